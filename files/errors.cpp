#include "errors.h"

#include <cerrno>

namespace torvale {

const QString kChangedSincePlan = QStringLiteral("文件在计划之后已被改动或替换");
const QString kChangedDuringRun = QStringLiteral("文件在处理期间被改动或替换");

QString describe_errno(int code)
{
    switch (code) {
    case ENOENT:
        return QStringLiteral("文件已不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EEXIST:
    case ENOTEMPTY:
        return QStringLiteral("目标名称已被占用");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOSPC:
        return QStringLiteral("磁盘已满");
    case EDQUOT:
        return QStringLiteral("磁盘配额已用完");
    case EFBIG:
        return QStringLiteral("文件太大");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被使用");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case ELOOP:
        return QStringLiteral("这是一个符号链接");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    case ENOTDIR:
        return QStringLiteral("不是文件夹");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("同时打开的文件太多");
    case ENOMEM:
        return QStringLiteral("内存不足");
    case EOPNOTSUPP:
    case ENOSYS:
        return QStringLiteral("文件系统不支持这个操作");
    case EXDEV:
        return QStringLiteral("不在同一个文件系统上");
    case ESTALE:
        return QStringLiteral("网络文件系统上的文件已失效");
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return QStringLiteral("网络连接中断");
    case EAGAIN:
        return QStringLiteral("暂时无法完成，请稍后再试");
    case EINTR:
        return QStringLiteral("操作被中断");
    case EMLINK:
        return QStringLiteral("文件的链接数太多");
    case EOVERFLOW:
        return QStringLiteral("文件太大，无法处理");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("设备不存在");
    case EINVAL:
        return QStringLiteral("系统拒绝了这个操作（参数无效）");
    case ENOLCK:
        return QStringLiteral("无法锁定");
    case ECANCELED:
        return QStringLiteral("操作被取消");
    default:
        // Every reason in Chinese: the system's own text may be English.
        return QStringLiteral("系统错误（错误编号 %1）").arg(code);
    }
}

} // namespace torvale
