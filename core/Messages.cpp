// SPDX-License-Identifier: MIT
#include "Messages.h"

#include "FailureLog.h"

#include <new>

QString Messages::failureReason(FailureKind kind, const QString& formatName) {
    switch (kind) {
    case FailureKind::FileMissing:
        return QStringLiteral("文件不存在");
    case FailureKind::CannotRead:
        return QStringLiteral("无法读取文件");
    case FailureKind::NotAPicture:
        return QStringLiteral("不是可识别的图片，或文件已损坏");
    case FailureKind::UnsupportedFormat:
        return formatName.isEmpty() ? QStringLiteral("不支持的图片格式")
                                    : QStringLiteral("不支持的图片格式：") + formatName;
    case FailureKind::PictureTooLarge:
        return QStringLiteral("图片尺寸超出限制");
    case FailureKind::CannotWrite:
        return QStringLiteral("无法写入文件");
    case FailureKind::NoWriteAccess:
        return QStringLiteral("没有写入权限");
    case FailureKind::DiskFull:
        return QStringLiteral("磁盘空间不足");
    case FailureKind::FolderMissing:
        return QStringLiteral("输出文件夹不存在");
    case FailureKind::Cancelled:
        return QStringLiteral("操作已取消");
    case FailureKind::NoSuchRow:
        return QStringLiteral("列表中没有这一行");
    case FailureKind::CannotStart:
        return QStringLiteral("无法启动文件管理器");
    case FailureKind::CodecNotReady:
        return QStringLiteral("图片编解码组件未能启动：ImageMagick 的安全策略不符合本程序的要求");
    }
    return {};
}

QString Messages::unexpectedFailureText(const std::exception& error) {
    const QString lead = QStringLiteral("发生意外错误：");
    if (const auto* platform = dynamic_cast<const PlatformError*>(&error))
        return lead + failureReason(platform->kind(), platform->formatName());
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return lead + QStringLiteral("内存不足");
    return lead + QStringLiteral("程序内部错误");
}

HandlerFailure HandlerFailure::forFile(const QString& title, const QString& lead,
                                       const QString& path, const PlatformError& error) {
    logFailure(path, error);
    return {title, lead + path + u'\n' + Messages::failureReason(error.kind(), error.formatName())};
}
