// SPDX-License-Identifier: MIT
#include "Ch_file.h"

#include "FormTranslator.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "TaskEditRules.h"
#include "ui_Ch_file.h"

#include <QDir>
#include <QFileInfo>
#include <QShowEvent>
#include <QStorageInfo>

namespace {

QString noFileText()
{
    return GetLangText(LangText::ChFile_Str::Str0);
}
QString exactNameText()
{
    return GetLangText(LangText::ChFile_Str::Str1);
}
QString allFilesText()
{
    return GetLangText(LangText::ChFile_Str::Str2);
}

constexpr int PathRole = Qt::UserRole;
constexpr int PatternsRole = Qt::UserRole;

QString cleanDir(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

// Whether path is root or lies below it.
bool isUnder(const QString& path, const QString& root)
{
    if (root == QLatin1String("/")) {
        return path.startsWith(QLatin1Char('/'));
    }
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

} // namespace

Tch_file_dlg::Tch_file_dlg(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::Tch_file_dlg>())
{
    m_ui->setupUi(this);
    TranslateForm(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Until a filter is set, every file fits; the name edit keeps the form's "*.*".
    m_ui->FilterComboBox1->addItem(allFilesText(), QStringList{QStringLiteral("*")});
    SetDirectory(QDir::homePath());

    connect(m_ui->OKBtn, &QPushButton::clicked, this, &Tch_file_dlg::OKBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->File_List, &QListWidget::itemDoubleClicked, this, &Tch_file_dlg::File_ListDblClick);
    connect(m_ui->File_List, &QListWidget::currentItemChanged, this, &Tch_file_dlg::File_ListChange);
    connect(m_ui->DriveComboBox1, &QComboBox::currentIndexChanged, this, &Tch_file_dlg::DriveComboBox1Change);
    connect(m_ui->dir_list, &QTreeWidget::currentItemChanged, this, &Tch_file_dlg::dir_listChange);
    connect(m_ui->dir_list, &QTreeWidget::itemExpanded, this, &Tch_file_dlg::dir_listExpand);
    connect(m_ui->FilterComboBox1, &QComboBox::currentIndexChanged, this, &Tch_file_dlg::FilterComboBox1Change);
}

Tch_file_dlg::~Tch_file_dlg() = default;

QStringList Tch_file_dlg::FileSystemRoots()
{
    QStringList roots{QStringLiteral("/"), cleanDir(QDir::homePath())};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString path = volume.rootPath();
        const bool removable = path.startsWith(QLatin1String("/media/"))
            || path.startsWith(QLatin1String("/run/media/")) || path.startsWith(QLatin1String("/mnt/"));
        if (volume.isValid() && volume.isReady() && removable && !roots.contains(path)) {
            roots << path;
        }
    }
    return roots;
}

void Tch_file_dlg::SetFilter(const QString& text)
{
    if (text == m_filterText && m_ui->FilterComboBox1->count() > 0) {
        return;
    }
    m_filterText = text;
    m_rebuilding = true;
    m_ui->FilterComboBox1->clear();
    for (const TaskEdit::TFileFilter& filter : TaskEdit::ParseFileFilter(text)) {
        m_ui->FilterComboBox1->addItem(filter.Description, filter.Patterns);
    }
    m_ui->FilterComboBox1->addItem(allFilesText(), QStringList{QStringLiteral("*")});
    m_ui->FilterComboBox1->setCurrentIndex(0);
    m_rebuilding = false;
    FilterComboBox1Change();
}

void Tch_file_dlg::SetNameReadOnly(bool readOnly)
{
    m_ui->FilenameEdit->setReadOnly(readOnly);
}

QString Tch_file_dlg::rootOf(const QString& path) const
{
    QString best = QStringLiteral("/");
    for (int i = 0; i < m_ui->DriveComboBox1->count(); ++i) {
        const QString root = m_ui->DriveComboBox1->itemText(i);
        if (isUnder(path, root) && root.size() > best.size()) {
            best = root;
        }
    }
    return best;
}

void Tch_file_dlg::SetDirectory(const QString& path)
{
    QString dir = cleanDir(path);
    // A folder that is gone shows its nearest existing parent.
    while (!QFileInfo(dir).isDir() && dir != QLatin1String("/")) {
        dir = QFileInfo(dir).path();
    }
    fillRoots(QString());
    const QString root = rootOf(dir);
    m_rebuilding = true;
    m_ui->DriveComboBox1->setCurrentIndex(m_ui->DriveComboBox1->findText(root));
    m_rebuilding = false;
    buildTree(root, dir);
}

void Tch_file_dlg::fillRoots(const QString& keep)
{
    m_rebuilding = true;
    const QString previous = keep.isEmpty() ? m_ui->DriveComboBox1->currentText() : keep;
    m_ui->DriveComboBox1->clear();
    m_ui->DriveComboBox1->addItems(FileSystemRoots());
    const int index = m_ui->DriveComboBox1->findText(previous);
    m_ui->DriveComboBox1->setCurrentIndex(index >= 0 ? index : 0);
    m_rebuilding = false;
}

void Tch_file_dlg::buildTree(const QString& root, const QString& dir)
{
    m_rebuilding = true;
    m_ui->dir_list->clear();
    auto* top = new QTreeWidgetItem(m_ui->dir_list, QStringList{root});
    top->setData(0, PathRole, root);
    QTreeWidgetItem* current = top;
    // Open the tree down to the folder, one level at a time.
    while (true) {
        fillChildren(current, dir);
        current->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < current->childCount(); ++i) {
            const QString childPath = current->child(i)->data(0, PathRole).toString();
            if (isUnder(dir, childPath)) {
                next = current->child(i);
                break;
            }
        }
        if (!next) {
            break;
        }
        current = next;
    }
    m_ui->dir_list->setCurrentItem(current);
    m_ui->dir_list->scrollToItem(current);
    m_rebuilding = false;
    m_currentDir = current->data(0, PathRole).toString();
    showCurrentDir();
    fillFiles();
}

void Tch_file_dlg::showCurrentDir()
{
    // A long path does not widen the dialog; the tip shows it whole.
    m_ui->dir_label->setText(m_currentDir);
    m_ui->dir_label->setToolTip(m_currentDir);
}

void Tch_file_dlg::fillChildren(QTreeWidgetItem* item, const QString& keepHidden)
{
    if (item->data(0, Qt::UserRole + 1).toBool()) {
        return; // filled already
    }
    item->setData(0, Qt::UserRole + 1, true);
    const QString path = item->data(0, PathRole).toString();
    const QDir folder(path);
    const QFileInfoList entries =
        folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString childPath = cleanDir(entry.absoluteFilePath());
        // Hidden folders only where they lead to the folder shown.
        if (entry.isHidden() && !isUnder(keepHidden, childPath)) {
            continue;
        }
        auto* child = new QTreeWidgetItem(item, QStringList{entry.fileName()});
        child->setData(0, PathRole, childPath);
        child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    if (item->childCount() == 0) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
}

void Tch_file_dlg::dir_listExpand(QTreeWidgetItem* item)
{
    fillChildren(item, m_currentDir);
}

void Tch_file_dlg::fillFiles()
{
    const bool wasRebuilding = m_rebuilding;
    m_rebuilding = true;
    m_ui->File_List->clear();
    const QStringList patterns = m_ui->FilterComboBox1->currentData(PatternsRole).toStringList();
    const QStringList names = QDir(m_currentDir)
                                  .entryList(patterns.isEmpty() ? QStringList{QStringLiteral("*")} : patterns,
                                      QDir::Files | QDir::NoDotAndDotDot,
                                      QDir::Name | QDir::IgnoreCase);
    m_ui->File_List->addItems(names);
    m_rebuilding = wasRebuilding;
}

QString Tch_file_dlg::currentMask() const
{
    const QStringList patterns = m_ui->FilterComboBox1->currentData(PatternsRole).toStringList();
    return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(QLatin1Char(';'));
}

void Tch_file_dlg::DriveComboBox1Change()
{
    if (m_rebuilding) {
        return;
    }
    const QString root = m_ui->DriveComboBox1->currentText();
    buildTree(root, root);
    m_ui->FilenameEdit->setText(currentMask());
}

void Tch_file_dlg::dir_listChange(QTreeWidgetItem* item)
{
    if (m_rebuilding || !item) {
        return;
    }
    m_currentDir = item->data(0, PathRole).toString();
    showCurrentDir();
    fillFiles();
    // A name chosen in another folder would be taken from this one.
    m_ui->FilenameEdit->setText(currentMask());
}

void Tch_file_dlg::FilterComboBox1Change()
{
    if (m_rebuilding) {
        return;
    }
    fillFiles();
    if (TaskEdit::CheckChosenName(m_ui->FilenameEdit->text()) != TaskEdit::TChosenName::Ok) {
        m_ui->FilenameEdit->setText(currentMask());
    }
}

void Tch_file_dlg::File_ListChange()
{
    if (m_rebuilding) {
        return;
    }
    if (const QListWidgetItem* item = m_ui->File_List->currentItem()) {
        m_ui->FilenameEdit->setText(item->text());
    }
}

void Tch_file_dlg::showEvent(QShowEvent* event)
{
    // The disk may have changed since the last showing: read it again, keeping folder and file.
    const QListWidgetItem* item = m_ui->File_List->currentItem();
    const QString remembered = item ? item->text() : QString();
    const QString name = m_ui->FilenameEdit->text();
    SetDirectory(m_currentDir);
    if (!remembered.isEmpty()) {
        const auto found = m_ui->File_List->findItems(remembered, Qt::MatchExactly);
        if (!found.isEmpty()) {
            m_rebuilding = true;
            m_ui->File_List->setCurrentItem(found.first());
            m_rebuilding = false;
        }
    }
    m_ui->FilenameEdit->setText(name);
    QDialog::showEvent(event);
}

bool Tch_file_dlg::FormCloseQuery()
{
    SelectedFile = m_ui->FilenameEdit->text();
    switch (TaskEdit::CheckChosenName(SelectedFile)) {
    case TaskEdit::TChosenName::Empty:
        MessageBoxes::information(this, noFileText());
        return false;
    case TaskEdit::TChosenName::Wildcard:
        MessageBoxes::information(this, exactNameText());
        return false;
    case TaskEdit::TChosenName::Ok:
        break;
    }
    SelectedFile = TaskEdit::ResolveChosenName(m_currentDir, SelectedFile);
    return true;
}

void Tch_file_dlg::OKBtnClick()
{
    if (FormCloseQuery()) {
        accept();
    }
}

void Tch_file_dlg::File_ListDblClick()
{
    OKBtnClick();
}
