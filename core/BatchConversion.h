// SPDX-License-Identifier: MIT
#pragma once

#include "Controls.h"
#include "Desktop.h"
#include "OutputNaming.h"
#include "PictureCodec.h"
#include "RowPipeline.h"
#include "WindowState.h"

#include <memory>

// The controls the batch works on.
struct BatchControls {
    ListBox& list;
    ImageControl& preview;
    CommandButton& viewOutputButton;
};

// Asking for the output folder and converting every row of the list into it.
class BatchConversion {
public:
    BatchConversion(WindowState& state, std::shared_ptr<PictureCodec> codec, Desktop& desktop,
                    BatchControls controls);

    // Asks for the output folder; outputFolder keeps its value when the user
    // cancels, and is emptied by a chosen item that has no file-system path.
    void askOutputFolder();

    // The click of the convert button for `format`.
    // Rows are decoded and encoded ahead on worker threads and written in list
    // order, each selected and shown as it is written. A row that cannot be
    // converted, or a cancel, ends the batch there with HandlerFailure: the
    // rows before it stay written, nothing after it is, and outputFolder keeps
    // its folder.
    void convertAll(TargetFormat format);

private:
    void convertRows(const QList<RowJob>& jobs);
    void commitRow(int row, RowOutcome outcome, const RowJob& job, int rowCount);
    void finish();

    WindowState& m_state;
    std::shared_ptr<PictureCodec> m_codec;
    Desktop& m_desktop;
    BatchControls m_controls;
};
