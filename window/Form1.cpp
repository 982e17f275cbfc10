// SPDX-License-Identifier: MIT
#include "Form1.h"

#include "Desktop.h"
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
    const char* name;
    Kind kind;
    const char16_t* caption; // convert buttons take theirs from the format table
    QRect place;             // pixels at 96 dpi, in the client area
    int tabIndex;            // focus order; -1 for controls that take no focus
    int formatIndex = -1;    // convert buttons only
};

// The whole window, control by control.
const ControlPlacement kLayout[] = {
    {"Command7", Kind::Button, u"打开图片", {32, 48, 69, 37}, 5},
    {"Command1", Kind::Button, u"删除图片", {32, 96, 69, 37}, 6},
    {"Command2", Kind::Button, u"添加图片", {32, 144, 69, 37}, 7},
    {"CmdCha", Kind::Button, u"立即查看", {32, 192, 69, 33}, 4},
    {"Label1", Kind::Label, u"文件列表：", {112, 32, 73, 17}, 1},
    {"List1", Kind::List, nullptr, {120, 48, 121, 364}, 0},
    {"Label2", Kind::Label, u"图片预览 ：", {256, 32, 89, 17}, 2},
    {"Picture1", Kind::Image, nullptr, {264, 48, 297, 365}, -1},
    {"zhuanhuan(1)", Kind::ConvertButton, nullptr, {579, 48, 80, 37}, 11, 1},
    {"zhuanhuan(0)", Kind::ConvertButton, nullptr, {579, 95, 80, 37}, 10, 0},
    {"zhuanhuan(2)", Kind::ConvertButton, nullptr, {579, 142, 80, 37}, 12, 2},
    {"zhuanhuan(3)", Kind::ConvertButton, nullptr, {579, 189, 80, 37}, 13, 3},
    {"zhuanhuan(4)", Kind::ConvertButton, nullptr, {579, 236, 80, 37}, 14, 4},
    {"zhuanhuan(5)", Kind::ConvertButton, nullptr, {579, 283, 80, 37}, 9, 5},
    {"zhuanhuan(6)", Kind::ConvertButton, nullptr, {579, 328, 80, 37}, 8, 6},
    {"Label3", Kind::HiddenLabel, u"无", {192, 504, 553, 25}, 3},
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

Form1::Form1(std::shared_ptr<PictureCodec> codec, Desktop& desktop, QWidget* parent)
    : QWidget(parent)
    , m_codec(std::move(codec))
    , m_desktop(desktop)
    , m_background(QStringLiteral(":/velmora/background.jpg")) {
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.ico")));
    setFixedSize(kClientSize);
    buildControls();

    List1 = std::make_unique<QtListBox>(m_list);
    Picture1 = std::make_unique<QtImage>(m_preview);
    Label3 = std::make_unique<QtLabel>(m_label3);
    CmdCha = std::make_unique<QtButton>(m_cmdCha);
    m_batch = std::make_unique<BatchConversion>(m_state, m_codec, m_desktop,
                                                BatchControls{*List1, *Picture1, *CmdCha});

    // Code that selects a row raises the click directly; a failure there goes
    // to the code that selected it. A user's click ends at the event boundary.
    List1->setClickHandler([this] { List1_Click(); });
    List1->onUserSelection([this] {
        const QString path = List1->List(List1->ListIndex());
        runHandler([&] {
            try {
                List1_Click();
            } catch (const PlatformError& error) {
                throw HandlerFailure::forFile(Messages::kPreviewFailedTitle,
                                              Messages::kPreviewFailedText, path, error.kind());
            }
        });
    });

    Form_Load();

    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    m_list->setFocus();
}

Form1::~Form1() = default;

QSize Form1::previewBoxSize() const {
    return m_preview->size();
}

void Form1::buildControls() {
    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const ControlPlacement& control : kLayout) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case Kind::Button:
        case Kind::ConvertButton: {
            const QString caption =
                control.kind == Kind::Button
                    ? QString::fromUtf16(control.caption)
                    : convertButtonCaption(kTargetFormats.at(control.formatIndex)).toString();
            auto* button = new FormButton(caption, this);
            if (control.kind == Kind::ConvertButton) {
                const int index = control.formatIndex;
                connect(button, &QPushButton::clicked, this,
                        [this, index] { runHandler([&] { zhuanhuan_Click(index); }); });
            }
            widget = button;
            break;
        }
        case Kind::Label:
        case Kind::HiddenLabel: {
            auto* label = new QLabel(QString::fromUtf16(control.caption), this);
            setTextColor(label, QPalette::WindowText, kWhite);
            label->setVisible(control.kind == Kind::Label);
            widget = label;
            break;
        }
        case Kind::List: {
            m_list = new PictureList(this);
            m_list->setSortingEnabled(false);
            setTextColor(m_list, QPalette::Text, kWhite);
            QPalette palette = m_list->palette();
            palette.setColor(QPalette::Base, QColor(0, 0, 255));
            // A selected row must stand out from the blue of the list.
            palette.setColor(QPalette::Highlight, QColor(0, 48, 120));
            palette.setColor(QPalette::HighlightedText, kWhite);
            m_list->setPalette(palette);
            widget = m_list;
            break;
        }
        case Kind::Image:
            m_preview = new PreviewBox(this);
            widget = m_preview;
            break;
        }
        widget->setObjectName(QString::fromLatin1(control.name));
        widget->setGeometry(control.place);
        if (control.tabIndex >= 0 && widget->focusPolicy() != Qt::NoFocus)
            focusOrder.emplace_back(control.tabIndex, widget);
    }
    m_label3 = findChild<QLabel*>(QStringLiteral("Label3"));
    m_cmdCha = findChild<QPushButton*>(QStringLiteral("CmdCha"));
    m_cmdCha->setEnabled(false);

    const auto connectButton = [this](const char* name, void (Form1::*handler)()) {
        connect(findChild<QPushButton*>(QString::fromLatin1(name)), &QPushButton::clicked, this,
                [this, handler] { runHandler([&] { (this->*handler)(); }); });
    };
    connectButton("Command7", &Form1::Command7_Click);
    connectButton("Command2", &Form1::Command2_Click);
    connectButton("Command1", &Form1::Command1_Click);
    connectButton("CmdCha", &Form1::CmdCha_Click);

    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
}

void Form1::Form_Load() {
    m_desktop.fileOpenDialog().setCancelError(true);
    List1->setBackColor(kListColor);
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, m_background);
}

void Form1::runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const HandlerFailure& failure) {
        m_desktop.showMessage(failure.text(), failure.title(),
                              failure.isWarning() ? MessageIcon::Warning
                                                  : MessageIcon::Information);
    } catch (const std::exception& error) {
        m_desktop.showMessage(QStringLiteral("发生意外错误：") + QString::fromUtf8(error.what()),
                              QStringLiteral("错误"), MessageIcon::Warning);
    }
}

void Form1::choosePictures(const QString& filter, bool replaceRows) {
    // A cancelled dialog, or any other failure, ends the command quietly;
    // rows already appended stay.
    try {
        FileOpenDialog& dialog = m_desktop.fileOpenDialog();
        dialog.setCancelError(true);
        dialog.setFlags(FileOpenDialog::kMultiSelectFlags);
        dialog.setFilter(filter);
        dialog.showOpen();

        m_state.Splitfn(dialog.fileName());
        if (replaceRows)
            List1->Clear();
        Label3->setCaption(m_state.FileParts.at(0));
        const int nameCount = int(m_state.FileParts.size()) - 1;
        for (int i = 1; i <= nameCount; ++i)
            List1->AddItem(Label3->Caption() + m_state.FileParts.at(i));
    } catch (const PlatformError&) {
    }
}

void Form1::Command7_Click() {
    choosePictures(kOpenFilter, true);
}

void Form1::Command2_Click() {
    choosePictures(kAddFilter, false);
}

void Form1::List1_Click() {
    const int row = List1->ListIndex();
    Picture1->setPicture(m_codec->loadPreview(List1->List(row)));
    m_state.SelIndex = List1->ListIndex();
}

void Form1::Command1_Click() {
    // Each step that fails is skipped. The selected row is the one removed;
    // SelIndex only decides what is shown next.
    if (m_state.SelIndex != List1->ListCount()) {
        skipOnFailure([&] { List1->RemoveItem(List1->ListIndex()); });
        skipOnFailure([&] { List1->setListIndex(m_state.SelIndex); });
        skipOnFailure(
            [&] { Picture1->setPicture(m_codec->loadPreview(List1->List(List1->ListIndex()))); });
    } else {
        skipOnFailure([&] { List1->RemoveItem(List1->ListIndex()); });
        Picture1->setPicture(nullptr);
    }
}

void Form1::CmdCha_Click() {
    const QString folder = m_state.LastOutputDir;
    // The file manager may give up after the handler has ended; the window
    // may be gone by then.
    QPointer<Form1> window(this);
    try {
        m_desktop.openFolder(folder, [window, folder] {
            if (window)
                window->showOpenFolderFailure(folder);
        });
    } catch (const PlatformError&) {
        throw HandlerFailure(Messages::kOpenFolderFailedTitle,
                             Messages::kOpenFolderFailedText + folder);
    }
}

void Form1::showOpenFolderFailure(const QString& folder) {
    m_desktop.showMessage(Messages::kOpenFolderFailedText + folder,
                          Messages::kOpenFolderFailedTitle, MessageIcon::Warning);
}

void Form1::zhuanhuan_Click(int formatIndex) {
    m_batch->zhuanhuanClick(kTargetFormats.at(formatIndex));
}
