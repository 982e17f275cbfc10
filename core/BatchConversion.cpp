// SPDX-License-Identifier: MIT
#include "BatchConversion.h"

#include "Messages.h"
#include "PlatformError.h"

BatchConversion::BatchConversion(FormState& state, PictureServices& services,
                                 BatchControls controls)
    : m_state(state)
    , m_services(services)
    , m_controls(controls) {}

void BatchConversion::Showbc() {
    if (const auto folder = m_services.browseForFolder(Messages::kFolderPrompt))
        m_state.OutputDir = *folder;
}

void BatchConversion::zhuanhuanClick(int formatIndex) {
    Showbc();
    if (m_state.OutputDir.isEmpty())
        return;

    const QStringView extension = kTargetFormats.at(formatIndex).extension;
    const int lastRow = m_controls.List1.ListCount() - 1;
    OutputNames names;
    for (int row = 0; row <= lastRow; ++row)
        convertRow(row, names, extension);
    finish();
}

void BatchConversion::convertRow(int row, OutputNames& names, QStringView extension) {
    ListBox& list = m_controls.List1;
    const QString source = list.List(row);
    try {
        // Selecting the row raises the list click, which previews it.
        list.setListIndex(row);
        m_controls.Picture1.setPicture(m_services.LoadPicture(list.List(row)));

        const PictureObject picture = m_controls.Picture1.Picture();
        const QString target = names.claim(source, m_state.OutputDir, Getfn(source), extension);
        m_services.SavePicture(picture, target);
    } catch (const PlatformError& error) {
        throw HandlerFailure::forFile(Messages::kConvertFailedTitle, Messages::kConvertFailedText,
                                      source, error.kind());
    }
}

void BatchConversion::finish() {
    m_state.LastOutputDir = m_state.OutputDir;
    m_controls.CmdCha.setEnabled(true);
    m_services.ShowMessage(Messages::kDoneText + m_state.OutputDir, Messages::kDoneTitle);
    m_state.OutputDir.clear();
}
