// SPDX-License-Identifier: MIT
// The distinct colours of a picture, each packed into 32 bits, numbered in
// the order they first come, up to a limit: the one colour count behind every
// palette decision. Plain C++, so the colour reduction shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ColourSet {
public:
    // Holds up to `limit` colours. An open-addressed table, at most a
    // quarter full.
    explicit ColourSet(int limit)
        : m_limit(limit) {
        while ((std::size_t(1) << m_bits) < std::size_t(limit + 1) * 4)
            ++m_bits;
        m_keys.resize(std::size_t(1) << m_bits);
        m_numbers.assign(std::size_t(1) << m_bits, -1);
    }

    // The colour's number, a new one if it is new; -1 when it is new and the
    // set already holds `limit` colours.
    int add(std::uint32_t colour) {
        const std::size_t at = slotOf(colour);
        if (m_numbers[at] >= 0)
            return m_numbers[at];
        if (size() == m_limit)
            return -1;
        m_keys[at] = colour;
        m_numbers[at] = size();
        m_colours.push_back(colour);
        return m_numbers[at];
    }
    // The colour's number, or -1 when it is not in the set.
    int numberOf(std::uint32_t colour) const { return m_numbers[slotOf(colour)]; }
    int size() const { return int(m_colours.size()); }
    // The colours in the order they came.
    const std::vector<std::uint32_t>& colours() const { return m_colours; }

private:
    std::size_t slotOf(std::uint32_t colour) const {
        const std::size_t mask = m_keys.size() - 1;
        std::size_t at = (colour * 2654435761u) >> (32 - m_bits); // the well-mixed high bits
        while (m_numbers[at] >= 0 && m_keys[at] != colour)
            at = (at + 1) & mask;
        return at;
    }

    int m_limit;
    int m_bits = 4;
    std::vector<std::uint32_t> m_keys;
    std::vector<int> m_numbers;
    std::vector<std::uint32_t> m_colours;
};
