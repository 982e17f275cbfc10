// SPDX-License-Identifier: MIT
#pragma once

#include "BatchConversion.h"
#include "ControlAdapters.h"
#include "TargetFormat.h"
#include "WindowState.h"

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>

class Desktop;
class PictureCodec;

// The program's one window: the picture list, the preview, the list commands
// and the seven convert buttons.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    MainWindow(std::shared_ptr<PictureCodec> codec, Desktop& desktop, QWidget* parent = nullptr);
    ~MainWindow() override;

    const WindowState& state() const { return m_state; }
    // The size of the preview box, which previews are made to fit.
    QSize previewBoxSize() const;

    // The handlers, as the buttons and the list call them.
    void openPictures();         // 打开图片: pictures replace the list
    void addPictures();          // 添加图片: pictures added to the list
    void deleteSelectedRow();    // 删除图片
    void openLastOutputFolder(); // 立即查看
    void previewSelectedRow();   // a click on a row
    void convertAll(TargetFormat format);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildControls();
    void applyStartSettings();
    void choosePictures(const QString& filter, bool replaceRows);
    // Runs a handler; a failure that ends it is shown to the user here, so
    // that no exception reaches the event loop.
    void runHandler(const std::function<void()>& handler);
    void showOpenFolderFailure(const QString& folder, const PlatformError& error);

    std::shared_ptr<PictureCodec> m_codec;
    Desktop& m_desktop;
    WindowState m_state;
    QPixmap m_background;

    // The controls as the handlers see them.
    std::unique_ptr<QtListBox> m_rows;
    std::unique_ptr<QtImage> m_preview;
    // Hidden, never shown: it keeps the folder of the latest selection from
    // the file dialog, and the open and add commands read it back as the start
    // of every row they add.
    std::unique_ptr<QtLabel> m_selectionFolder;
    std::unique_ptr<QtButton> m_viewOutputButton;
    std::unique_ptr<BatchConversion> m_batch;
};
