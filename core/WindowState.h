// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// The fields the window's handlers pass to one another. The window owns one
// for its whole life; nothing is persisted.
struct WindowState {
    // After splitSelection: element 0 the directory of the selection (ending in the
    // separator), elements 1..n the file names in dialog order.
    QStringList selectionParts;
    // The row the last completed list click read from the selection.
    int previewedRow = 0;
    // The folder chosen for the running batch; emptied when a batch completes.
    QString outputFolder;
    // The folder of the last completed batch, for the view-now command.
    QString lastOutputFolder;

    // Splits a file-open dialog result (one full path, or a directory and names
    // separated by NUL characters) into selectionParts, replacing what was there.
    void splitSelection(const QString& dialogResult, QChar separator = QDir::separator());
};
