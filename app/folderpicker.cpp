#include "folderpicker.h"

#include "foldertree.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QStorageInfo>

namespace {

// File systems that hold no user files and are not offered in Drive1.
bool is_pseudo_file_system(const QByteArray &type)
{
    static const QList<QByteArray> pseudo = {
        "proc",        "sysfs",    "devtmpfs", "devpts",     "cgroup",  "cgroup2",  "securityfs", "pstore",
        "debugfs",     "tracefs",  "mqueue",   "hugetlbfs",  "fusectl", "configfs", "bpf",        "autofs",
        "binfmt_misc", "efivarfs", "nsfs",     "rpc_pipefs", "tmpfs",   "squashfs", "ramfs",      "overlay"};
    return pseudo.contains(type);
}

// The root of the volume that holds path; "/" when the system lists no
// mount for it (as in a bare chroot).
QString volume_root(const QString &path)
{
    const QString root = QStorageInfo(path).rootPath();
    return root.isEmpty() ? QDir::rootPath() : root;
}

} // namespace

FolderPicker::FolderPicker(QComboBox *Drive1, FolderTree *Dir1, QObject *parent)
    : QObject(parent), m_drives(Drive1), m_tree(Dir1)
{
    const QString here = volume_root(QDir::currentPath());
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        if (is_pseudo_file_system(volume.fileSystemType()) && volume.rootPath() != here)
            continue;
        roots << volume.rootPath();
    }
    if (!roots.contains(here))
        roots << here;
    roots.removeDuplicates();
    roots.sort();
    for (const QString &root : roots)
        m_drives->addItem(QDir::toNativeSeparators(root), root);

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    connect(m_tree, &FolderTree::selectedByPerson, this, [this](const QModelIndex &index) {
        emit folderChosen(index.isValid() ? m_model->filePath(index) : QString());
    });
    // Any change of Drive1 shows that volume; only the person's choice of a
    // volume makes its root the working folder.
    connect(m_drives, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
    connect(m_drives, &QComboBox::activated, this, [this] {
        if (Drive1_Change())
            emit folderChosen(m_drives->currentData().toString());
    });
}

bool FolderPicker::Drive1_Change()
{
    const QString root = m_drives->currentData().toString();
    // A volume that cannot be read is passed over silently; Dir1 stays where it is.
    if (root.isEmpty() || !QDir(root).isReadable())
        return false;
    if (m_tree->rootIndex() != m_model->index(root))
        m_tree->setRootIndex(m_model->setRootPath(root));
    return true;
}

void FolderPicker::showVolume(const QString &path)
{
    const int volume = m_drives->findData(volume_root(path));
    if (volume >= 0 && volume != m_drives->currentIndex())
        m_drives->setCurrentIndex(volume);
    else if (m_tree->rootIndex() == QModelIndex())
        Drive1_Change();
}

QModelIndex FolderPicker::expandTo(const QString &path)
{
    showVolume(path);
    const QModelIndex index = m_model->index(QDir(path).absolutePath());
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        m_tree->expand(parent);
    return index;
}

void FolderPicker::choose(const QString &path)
{
    const QModelIndex index = expandTo(path);
    // A folder the tree cannot show (a name that is not UTF-8) is still the
    // working folder; nothing in the tree stands for it.
    showChosen(index.isValid() ? path : QString());
    if (index.isValid())
        m_tree->showUntilTouched(index, QAbstractItemView::PositionAtCenter);
}

void FolderPicker::reveal(const QString &path)
{
    const QModelIndex index = expandTo(path);
    if (!index.isValid())
        return;
    m_tree->expand(index);
    // The keys start from here; nothing is selected, so nothing is chosen.
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_tree->showUntilTouched(index, QAbstractItemView::PositionAtTop);
}

void FolderPicker::showChosen(const QString &path)
{
    const QModelIndex index = path.isEmpty() ? QModelIndex() : m_model->index(QDir(path).absolutePath());
    if (index == m_tree->selectedFolder())
        return;
    if (!index.isValid()) {
        m_tree->selectionModel()->clearSelection();
        return;
    }
    m_tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
}
