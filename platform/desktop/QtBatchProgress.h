// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

#include <QElapsedTimer>
#include <QPointer>

class QProgressDialog;
class QWidget;

// A modal progress dialog that appears once a batch has run for half a second.
class QtBatchProgress : public BatchProgress {
public:
    QtBatchProgress(QWidget* owner, int totalRows);
    ~QtBatchProgress() override;

    void setProgress(int doneRows, int totalRows) override;
    bool wasCancelled() const override;
    bool isShown() const override;

private:
    QPointer<QProgressDialog> m_dialog;
    QElapsedTimer m_running;
};
