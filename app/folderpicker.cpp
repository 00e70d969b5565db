#include "folderpicker.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QStorageInfo>
#include <QTimer>
#include <QTreeView>

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

FolderPicker::FolderPicker(QComboBox *Drive1, QTreeView *Dir1, QObject *parent)
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

    useNewModel();
    connect(m_drives, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
}

void FolderPicker::useNewModel()
{
    QFileSystemModel *old = m_model;
    QItemSelectionModel *oldSelection = m_tree->selectionModel();
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    setCurrent(m_model->filePath(current));
            });
    // The model reads and sorts folders in the background: when rows arrive
    // on the way to the chosen folder, or are sorted, bring it back into view.
    auto keepInView = [this](const QModelIndex &parent) {
        if (m_shownPath.isEmpty() || (parent.isValid() && !m_shownPath.startsWith(m_model->filePath(parent))))
            return;
        QTimer::singleShot(0, this, [this] {
            m_tree->scrollTo(m_model->index(m_shownPath), QAbstractItemView::PositionAtCenter);
        });
    };
    connect(m_model, &QAbstractItemModel::rowsInserted, this, keepInView);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [keepInView] { keepInView({}); });
    delete oldSelection;
    delete old;
}

void FolderPicker::choose(const QString &path)
{
    m_shownPath = path;
    const int volume = m_drives->findData(volume_root(path));
    if (volume >= 0 && volume != m_drives->currentIndex())
        m_drives->setCurrentIndex(volume);
    else if (m_tree->rootIndex() == QModelIndex())
        Drive1_Change();
    const QModelIndex index = m_model->index(QDir(path).absolutePath());
    if (!index.isValid())
        return;
    m_tree->setCurrentIndex(index);
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        m_tree->expand(parent);
    m_tree->scrollTo(index);
}

void FolderPicker::setCurrent(const QString &path)
{
    // The folder chosen last, however it was chosen: kept in view while the
    // tree loads, and chosen again when a fresh tree takes the place of the old.
    m_shownPath = path;
    emit folderChosen(path);
}

void FolderPicker::pause()
{
    m_model->setOption(QFileSystemModel::DontWatchForChanges, true);
}

void FolderPicker::resume()
{
    // A model whose watching was switched off does not watch again (Qt 6.4):
    // a fresh one takes its place, at the same volume and folder.
    const QString root = m_drives->currentData().toString();
    const QString shown = m_shownPath;
    useNewModel();
    if (!root.isEmpty())
        m_tree->setRootIndex(m_model->setRootPath(root));
    if (!shown.isEmpty())
        choose(shown);
}

void FolderPicker::Drive1_Change()
{
    const QString root = m_drives->currentData().toString();
    // A volume that cannot be read is passed over silently; Dir1 stays where it is.
    if (root.isEmpty() || !QDir(root).isReadable())
        return;
    m_tree->setRootIndex(m_model->setRootPath(root));
    setCurrent(root);
}
