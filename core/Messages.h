// SPDX-License-Identifier: MIT
#pragma once

#include "PlatformError.h"

#include <QString>

#include <exception>

// The texts the user reads, in one place.
namespace Messages {
inline const QString kFolderPrompt = QStringLiteral("请选择图片输出的保存路径：");
inline const QString kDoneText = QStringLiteral("图片转换完毕！图片已经被输出保存路径到");
inline const QString kDoneTitle = QStringLiteral("转换完毕");
inline const QString kConvertFailedTitle = QStringLiteral("转换失败");
inline const QString kConvertFailedText = QStringLiteral("无法转换图片：");
inline const QString kPreviewFailedTitle = QStringLiteral("无法预览");
inline const QString kPreviewFailedText = QStringLiteral("无法打开图片：");
inline const QString kCancelledTitle = QStringLiteral("转换已取消");
inline const QString kOpenFolderFailedTitle = QStringLiteral("无法打开文件夹");
inline const QString kOpenFolderFailedText = QStringLiteral("无法打开文件夹：");

inline QString cancelledText(int convertedRows) {
    return QStringLiteral("已取消，已转换 %1 张图片。").arg(convertedRows);
}

// What a batch that stopped at a failing row did and did not do.
inline QString stoppedBatchText(int convertedRows, int remainingRows) {
    return QStringLiteral("已转换 %1 张图片，其余 %2 张未转换。")
        .arg(convertedRows)
        .arg(remainingRows);
}

// Why a file could not be used, in words for the user; an unsupported format
// is named when its name is known.
QString failureReason(FailureKind kind, const QString& formatName = {});

inline const QString kUnexpectedTitle = QStringLiteral("错误");
// A failure no handler expected, told by its cause alone: the exception's
// own words are for the log.
QString unexpectedFailureText(const std::exception& error);
} // namespace Messages

// Ends a handler with a message for the user. The window catches it at the
// event boundary and shows it; nothing else is undone. A failure is shown
// with the warning icon; a handler that ends as the user asked (a cancelled
// batch) with the information icon.
class HandlerFailure : public std::exception {
public:
    HandlerFailure(const QString& title, const QString& text, bool isWarning = true)
        : m_title(title)
        , m_text(text)
        , m_what(text.toUtf8())
        , m_isWarning(isWarning) {}

    // "<lead><path>\n<reason>": the message for a file that could not be used.
    // The error's detail goes to the log.
    static HandlerFailure forFile(const QString& title, const QString& lead, const QString& path,
                                  const PlatformError& error);

    const QString& title() const { return m_title; }
    const QString& text() const { return m_text; }
    bool isWarning() const { return m_isWarning; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_title;
    QString m_text;
    QByteArray m_what;
    bool m_isWarning;
};
