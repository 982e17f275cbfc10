// SPDX-License-Identifier: MIT
#include "MainWindow.h"

#include "ControlNames.h"
#include "Desktop.h"
#include "FailureLog.h"
#include "FormButton.h"
#include "Messages.h"
#include "OutputNaming.h"
#include "PictureCodec.h"
#include "PictureList.h"
#include "PlatformError.h"
#include "PreviewBox.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <vector>

namespace {
enum class Kind { Button, ConvertButton, Label, HiddenLabel, List, Image };

struct ControlPlacement {
    QLatin1StringView name;
    Kind kind;
    const char16_t* caption;                 // convert buttons take theirs from their format
    QRect place;                             // pixels at 96 dpi, in the client area
    int tabIndex;                            // focus order; -1 for controls that take no focus
    TargetFormat format = TargetFormat::Jpg; // convert buttons only
};

// A convert button: its name and caption follow from its format.
ControlPlacement convertPlacement(TargetFormat format, QRect place, int tabIndex) {
    return {
        ControlNames::convertButton(format), Kind::ConvertButton, nullptr, place, tabIndex, format};
}

// The whole window, control by control.
const ControlPlacement kLayout[] = {
    {ControlNames::kOpenButton, Kind::Button, u"打开图片", {32, 48, 69, 37}, 5},
    {ControlNames::kDeleteButton, Kind::Button, u"删除图片", {32, 96, 69, 37}, 6},
    {ControlNames::kAddButton, Kind::Button, u"添加图片", {32, 144, 69, 37}, 7},
    {ControlNames::kViewOutputButton, Kind::Button, u"立即查看", {32, 192, 69, 33}, 4},
    {ControlNames::kListCaption, Kind::Label, u"文件列表：", {112, 32, 73, 17}, 1},
    {ControlNames::kPictureList, Kind::List, nullptr, {120, 48, 121, 364}, 0},
    {ControlNames::kPreviewCaption, Kind::Label, u"图片预览 ：", {256, 32, 89, 17}, 2},
    {ControlNames::kPreview, Kind::Image, nullptr, {264, 48, 297, 365}, -1},
    // The convert buttons form one array, indexed as the formats are; the
    // column is not in index order (BMP first, then JPG).
    convertPlacement(TargetFormat::Bmp, {579, 48, 80, 37}, 11),
    convertPlacement(TargetFormat::Jpg, {579, 95, 80, 37}, 10),
    convertPlacement(TargetFormat::Gif, {579, 142, 80, 37}, 12),
    convertPlacement(TargetFormat::Pcx, {579, 189, 80, 37}, 13),
    convertPlacement(TargetFormat::Png, {579, 236, 80, 37}, 14),
    convertPlacement(TargetFormat::Ico, {579, 283, 80, 37}, 9),
    convertPlacement(TargetFormat::Tiff, {579, 328, 80, 37}, 8),
    {ControlNames::kSelectionFolder, Kind::HiddenLabel, u"无", {192, 504, 553, 25}, 3},
};

constexpr QSize kClientSize(696, 454);
constexpr RgbColor kListColor{26, 142, 255};
const QColor kWhite(255, 255, 255);

const QString kOpenFilter =
    QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;)"
                   "|*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;");
const QString kAddFilter = QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico)"
                                          "|*.bmp;*.jpg;*.gif;*.pcx;*.ico");

void setTextColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

// Runs one step of a command whose failing steps are skipped.
void skipOnFailure(const std::function<void()>& step) {
    try {
        step();
    } catch (const PlatformError&) {
    }
}
} // namespace

MainWindow::MainWindow(std::shared_ptr<PictureCodec> codec, Desktop& desktop, QWidget* parent)
    : QWidget(parent)
    , m_codec(std::move(codec))
    , m_desktop(desktop)
    , m_background(QStringLiteral(":/velmora/background.jpg")) {
    setObjectName(ControlNames::kWindow);
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.ico")));
    setFixedSize(kClientSize);
    buildControls();
    m_batch = std::make_unique<BatchConversion>(
        m_state, m_codec, m_desktop, BatchControls{*m_rows, *m_preview, *m_viewOutputButton});

    // Code that selects a row raises the click directly; a failure there goes
    // to the code that selected it. A user's click ends at the event boundary.
    m_rows->setClickHandler([this] { previewSelectedRow(); });
    m_rows->onUserSelection([this] {
        const QString path = m_rows->rowText(m_rows->selectedRow());
        runHandler([&] {
            try {
                previewSelectedRow();
            } catch (const PlatformError& error) {
                throw HandlerFailure::forFile(Messages::kPreviewFailedTitle,
                                              Messages::kPreviewFailedText, path, error);
            }
        });
    });

    applyStartSettings();

    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    m_rows->widget()->setFocus();
}

MainWindow::~MainWindow() = default;

QSize MainWindow::previewBoxSize() const {
    return m_preview->widget()->size();
}

void MainWindow::buildControls() {
    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const ControlPlacement& control : kLayout) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case Kind::Button:
        case Kind::ConvertButton: {
            const QString caption = control.kind == Kind::Button
                                        ? QString::fromUtf16(control.caption)
                                        : convertButtonCaption(control.format).toString();
            auto* button = new FormButton(caption, this);
            if (control.kind == Kind::ConvertButton) {
                const TargetFormat format = control.format;
                connect(button, &QPushButton::clicked, this,
                        [this, format] { runHandler([&] { convertAll(format); }); });
            }
            widget = button;
            break;
        }
        case Kind::Label:
        case Kind::HiddenLabel: {
            auto* label = new QLabel(QString::fromUtf16(control.caption), this);
            setTextColor(label, QPalette::WindowText, kWhite);
            label->setVisible(control.kind == Kind::Label);
            if (control.kind == Kind::HiddenLabel)
                m_selectionFolder = std::make_unique<QtLabel>(label);
            widget = label;
            break;
        }
        case Kind::List: {
            auto* list = new PictureList(this);
            list->setSortingEnabled(false);
            setTextColor(list, QPalette::Text, kWhite);
            QPalette palette = list->palette();
            palette.setColor(QPalette::Base, QColor(0, 0, 255));
            // A selected row must stand out from the blue of the list.
            palette.setColor(QPalette::Highlight, QColor(0, 48, 120));
            palette.setColor(QPalette::HighlightedText, kWhite);
            list->setPalette(palette);
            m_rows = std::make_unique<QtListBox>(list);
            widget = list;
            break;
        }
        case Kind::Image:
            auto* preview = new PreviewBox(this);
            m_preview = std::make_unique<QtImage>(preview);
            widget = preview;
            break;
        }
        widget->setObjectName(control.name);
        widget->setGeometry(control.place);
        if (control.tabIndex >= 0 && widget->focusPolicy() != Qt::NoFocus)
            focusOrder.emplace_back(control.tabIndex, widget);
    }
    // 立即查看 waits for the first completed batch.
    auto* viewOutput = findChild<QPushButton*>(ControlNames::kViewOutputButton);
    viewOutput->setEnabled(false);
    m_viewOutputButton = std::make_unique<QtButton>(viewOutput);

    const auto connectButton = [this](QLatin1StringView name, void (MainWindow::*handler)()) {
        connect(findChild<QPushButton*>(name), &QPushButton::clicked, this,
                [this, handler] { runHandler([&] { (this->*handler)(); }); });
    };
    connectButton(ControlNames::kOpenButton, &MainWindow::openPictures);
    connectButton(ControlNames::kAddButton, &MainWindow::addPictures);
    connectButton(ControlNames::kDeleteButton, &MainWindow::deleteSelectedRow);
    connectButton(ControlNames::kViewOutputButton, &MainWindow::openLastOutputFolder);

    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
}

void MainWindow::applyStartSettings() {
    m_desktop.fileOpenDialog().setCancelError(true);
    m_rows->setBackgroundColor(kListColor);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, m_background);
}

void MainWindow::runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const HandlerFailure& failure) {
        m_desktop.showMessage(failure.text(), failure.title(),
                              failure.isWarning() ? MessageIcon::Warning
                                                  : MessageIcon::Information);
    } catch (const std::exception& error) {
        logUnexpectedFailure(error);
        m_desktop.showMessage(Messages::unexpectedFailureText(error), Messages::kUnexpectedTitle,
                              MessageIcon::Warning);
    }
}

void MainWindow::choosePictures(const QString& filter, bool replaceRows) {
    // A cancelled dialog, or any other failure, ends the command quietly;
    // rows already appended stay.
    try {
        FileOpenDialog& dialog = m_desktop.fileOpenDialog();
        dialog.setCancelError(true);
        dialog.setFlags(FileOpenDialog::kMultiSelectFlags);
        dialog.setFilter(filter);
        dialog.showOpen();

        m_state.splitSelection(dialog.fileName());
        if (replaceRows)
            m_rows->clear();
        m_selectionFolder->setText(m_state.selectionParts.at(0));
        const int nameCount = int(m_state.selectionParts.size()) - 1;
        for (int i = 1; i <= nameCount; ++i)
            m_rows->addRow(m_selectionFolder->text() + m_state.selectionParts.at(i));
    } catch (const PlatformError&) {
    }
}

void MainWindow::openPictures() {
    choosePictures(kOpenFilter, true);
}

void MainWindow::addPictures() {
    choosePictures(kAddFilter, false);
}

void MainWindow::previewSelectedRow() {
    const int row = m_rows->selectedRow();
    m_preview->setPicture(m_codec->loadPreview(m_rows->rowText(row)));
    m_state.previewedRow = m_rows->selectedRow();
}

void MainWindow::deleteSelectedRow() {
    // Each step that fails is skipped. Deliberately, the row removed is the
    // selected one while the row previewed last only decides which branch
    // runs and which row is selected next (counted after the removal), and is
    // not adjusted for the rows removed or replaced since: users and files of
    // this command rely on exactly that sequence.
    if (m_state.previewedRow != m_rows->rowCount()) {
        skipOnFailure([&] { m_rows->removeRow(m_rows->selectedRow()); });
        skipOnFailure([&] { m_rows->selectRow(m_state.previewedRow); });
        skipOnFailure([&] {
            m_preview->setPicture(m_codec->loadPreview(m_rows->rowText(m_rows->selectedRow())));
        });
    } else {
        skipOnFailure([&] { m_rows->removeRow(m_rows->selectedRow()); });
        m_preview->setPicture(nullptr);
    }
}

void MainWindow::openLastOutputFolder() {
    const QString folder = m_state.lastOutputFolder;
    // The file manager may give up after the handler has ended; the window
    // may be gone by then.
    QPointer<MainWindow> window(this);
    try {
        m_desktop.openFolder(folder, [window, folder](const PlatformError& error) {
            if (window)
                window->showOpenFolderFailure(folder, error);
        });
    } catch (const PlatformError& error) {
        logFailure(folder, error);
        throw HandlerFailure(Messages::kOpenFolderFailedTitle,
                             Messages::kOpenFolderFailedText + folder);
    }
}

void MainWindow::showOpenFolderFailure(const QString& folder, const PlatformError& error) {
    logFailure(folder, error);
    m_desktop.showMessage(Messages::kOpenFolderFailedText + folder,
                          Messages::kOpenFolderFailedTitle, MessageIcon::Warning);
}

void MainWindow::convertAll(TargetFormat format) {
    m_batch->convertAll(format);
}
