// SPDX-License-Identifier: MIT
#include "QtBatchProgress.h"

#include <QProgressDialog>

namespace {
constexpr int kShowAfterMs = 500;

QString progressText(int done, int total) {
    return QStringLiteral("正在转换图片…\n%1 / %2").arg(done).arg(total);
}
} // namespace

QtBatchProgress::QtBatchProgress(QWidget* owner, int totalRows)
    : m_dialog(new QProgressDialog(progressText(0, totalRows), QStringLiteral("取消"), 0, totalRows,
                                   owner)) {
    m_dialog->setWindowTitle(QStringLiteral("转换进度"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    // We decide when it appears; Qt's own estimate would show it late or never.
    m_dialog->setMinimumDuration(std::numeric_limits<int>::max());
    m_dialog->setValue(0);
    m_running.start();
}

QtBatchProgress::~QtBatchProgress() {
    delete m_dialog;
}

void QtBatchProgress::setProgress(int doneRows, int totalRows) {
    if (!m_dialog)
        return;
    m_dialog->setMaximum(totalRows);
    m_dialog->setValue(doneRows);
    m_dialog->setLabelText(progressText(doneRows, totalRows));
    if (!m_dialog->isVisible() && m_running.elapsed() >= kShowAfterMs)
        m_dialog->show();
}

bool QtBatchProgress::wasCancelled() const {
    return m_dialog && m_dialog->wasCanceled();
}

bool QtBatchProgress::isShown() const {
    return m_dialog && m_dialog->isVisible();
}
