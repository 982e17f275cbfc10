// SPDX-License-Identifier: MIT
#pragma once

#include "BatchConversion.h"
#include "ControlAdapters.h"
#include "FormState.h"

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>

class Desktop;
class PictureCodec;
class PictureList;
class PreviewBox;
class QLabel;
class QPushButton;

// The program's one window: the picture list, the preview, the list commands
// and the seven convert buttons.
class Form1 : public QWidget {
    Q_OBJECT

public:
    Form1(std::shared_ptr<PictureCodec> codec, Desktop& desktop, QWidget* parent = nullptr);
    ~Form1() override;

    const FormState& state() const { return m_state; }
    // The size of the preview box, which previews are made to fit.
    QSize previewBoxSize() const;

    // The handlers, as the buttons and the list call them.
    void Command7_Click(); // open pictures, replacing the list
    void Command2_Click(); // add pictures to the list
    void Command1_Click(); // delete the selected row
    void CmdCha_Click();   // open the last output folder
    void List1_Click();    // preview the selected row
    void zhuanhuan_Click(int formatIndex);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    void choosePictures(const QString& filter, bool replaceRows);
    // Runs a handler; a failure that ends it is shown to the user here, so
    // that no exception reaches the event loop.
    void runHandler(const std::function<void()>& handler);
    void showOpenFolderFailure(const QString& folder);

    std::shared_ptr<PictureCodec> m_codec;
    Desktop& m_desktop;
    FormState m_state;
    QPixmap m_background;

    PictureList* m_list = nullptr;
    PreviewBox* m_preview = nullptr;
    QLabel* m_label3 = nullptr;
    QPushButton* m_cmdCha = nullptr;

    std::unique_ptr<QtListBox> List1;
    std::unique_ptr<QtImage> Picture1;
    std::unique_ptr<QtLabel> Label3;
    std::unique_ptr<QtButton> CmdCha;
    std::unique_ptr<BatchConversion> m_batch;
};
