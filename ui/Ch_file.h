// SPDX-License-Identifier: MIT
#pragma once

// The small modal chooser that picks one report file from the disk: a list of file-system roots (the root folder,
// the home folder and mounted removable media), the folder tree of the chosen root, the files of the current
// folder that fit the chosen filter, and the file name. Created once; folder, filter and file choice persist
// between showings.

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class Tch_file_dlg;
}

class Tch_file_dlg : public QDialog
{
    Q_OBJECT

public:
    explicit Tch_file_dlg(QWidget* parent = nullptr);
    ~Tch_file_dlg() override;

    // The full path of the chosen file after the dialog closed with OK.
    QString SelectedFile;

    // "description|patterns|description|patterns", patterns split at ";"; "all files" is offered after them.
    // A new text starts at its first choice; setting the same text again keeps the current one.
    void SetFilter(const QString& text);
    void SetNameReadOnly(bool readOnly);

    // Shows the folder: the drive list takes the root that holds it, the tree opens down to it.
    void SetDirectory(const QString& path);
    QString currentDirectory() const { return m_currentDir; }

    // The roots the drive list offers: "/", the home folder, then mounted removable media.
    static QStringList FileSystemRoots();

protected:
    void showEvent(QShowEvent* event) override; // FormShow

private:
    void OKBtnClick();
    void File_ListDblClick();
    void File_ListChange();
    // Checks the name when closing with OK; false keeps the dialog open.
    bool FormCloseQuery();

    void DriveComboBox1Change();
    void dir_listChange(QTreeWidgetItem* item);
    void FilterComboBox1Change();
    void dir_listExpand(QTreeWidgetItem* item);

    void fillRoots(const QString& keep);
    void buildTree(const QString& root, const QString& dir);
    void fillChildren(QTreeWidgetItem* item, const QString& keepHidden);
    void fillFiles();
    void showCurrentDir();
    QString rootOf(const QString& path) const;
    // The mask of the current filter, shown in the name edit while no file is chosen.
    QString currentMask() const;

    std::unique_ptr<Ui::Tch_file_dlg> m_ui;
    QString m_currentDir;
    QString m_filterText;
    // While the lists are rebuilt, a change of their current entry is not the user's choice.
    bool m_rebuilding = false;
};
