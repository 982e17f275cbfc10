// SPDX-License-Identifier: MIT
// The text side of the file-open dialog: reading the filter the commands pass
// and writing the dialog's result. No widgets here, so tests can call it
// directly.
#pragma once

#include <QChar>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// One entry of the dialog's file-type list.
struct DialogNameFilter {
    QString description;  // shown to the user exactly as the caller wrote it
    QStringList patterns; // wildcard patterns such as "*.jpg", none empty

    bool operator==(const DialogNameFilter&) const = default;
};

// Reads "description|pattern;pattern;...", optionally followed by further
// "|description|patterns" pairs. Empty patterns (a stray ";") are dropped and
// surrounding blanks are trimmed. A description without patterns gets "*".
QList<DialogNameFilter> parseDialogFilter(const QString& filter);

// The pattern with every ASCII letter written as a class of both cases, so
// "*.jpg" becomes "*.[jJ][pP][gG]" and matches IMG_0001.JPG as well. Existing
// bracket classes are kept as they are.
QString caseInsensitivePattern(const QString& pattern);

// The filter in the form QFileDialog reads: "description (p1 p2 ...)" with the
// case-insensitive patterns. With QFileDialog::HideNameFilterDetails the
// dialog shows only the text before the last parenthesis, i.e. the
// description as given (Qt collapses runs of blanks inside it, which our
// descriptions do not have).
QString qtNameFilter(const DialogNameFilter& filter);

// The dialog result text: one selected file gives its full path; several give
// the directory they share (no trailing separator unless it is a root), then
// each name relative to it, joined by NUL characters, in the given order.
// Paths come in with '/' and go out with the given separator.
QString dialogResultText(const QStringList& selectedPaths, QChar separator = QDir::separator());

// The folder an accepted folder chooser gave: its file-system path, or an
// empty text when the item chosen has none (a virtual folder such as the
// computer or the network itself), which the batch takes as no folder at all.
QString chosenFolder(const QList<QUrl>& selected, QChar separator = QDir::separator());
