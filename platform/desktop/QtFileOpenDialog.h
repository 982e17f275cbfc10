// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLineEdit;
class QListView;
class QPushButton;

// A file dialog that is made once per run and shown again and again.
//
// QFileDialog writes its folder, history and layout to Qt's own settings
// (~/.config/QtProject.conf; the registry on Windows) from its destructor, and
// no option turns that off; this program keeps no settings. So each dialog is
// made once, its remembered history dropped, and never destroyed: the end of
// the run reclaims it without a word written. Each time it is shown it starts
// in the folder the last dialog of the run was showing, with an empty name box.
class KeptFileDialog : public QFileDialog {
public:
    // The one dialog for picking picture files, and the one for picking a folder.
    static KeptFileDialog& forFiles();
    static KeptFileDialog& forFolders();

    // Shows the dialog modal over `owner` (which may be null); true when accepted.
    bool run(QWidget* owner);

    // A name typed into the name box is taken even when the name filter hides
    // it from the list. Qt takes the typed names only when no row of its list
    // is selected, and typing selects the rows it finds there, so a typed
    // "a.jpg" "scan.tif" came back as a.jpg alone; when the name box holds
    // something other than the selected rows, the typed names are taken here,
    // each checked by Qt as usual.
    void accept() override;

private:
    KeptFileDialog();

    // Enables Open, after each change of the name box, when every name typed
    // there exists: Qt disables it for a name its list does not show.
    void enableOpenForTypedNames();
    bool takesTypedNames() const;
    bool typedNamesExist() const;
    QLineEdit* nameBox() const;
    QListView* fileRows() const;
    QPushButton* openButton() const;
};

// The file-open dialog on the kept file dialog: each showOpen applies the
// current settings to it.
class QtFileOpenDialog : public FileOpenDialog {
public:
    // Flag bits we act on; the others the commands pass concern the look of a
    // native dialog and have no counterpart here.
    static constexpr int kAllowMultiSelect = 0x200;
    static constexpr int kNoDereferenceLinks = 0x100000;

    explicit QtFileOpenDialog(QWidget* owner = nullptr);

    void setOwner(QWidget* owner);

    void setCancelError(bool cancelError) override;
    void setFlags(int flags) override;
    void setFilter(const QString& filter) override;
    void showOpen() override;
    QString fileName() const override;

    // Applies the current settings to a dialog. showOpen uses it; it is public
    // so the settings can be looked at on a dialog that is not run.
    void configure(QFileDialog& dialog) const;

private:
    QPointer<QWidget> m_owner;
    bool m_cancelError = false;
    int m_flags = 0;
    QString m_filter;
    QString m_fileName;
};
