#include "DeviceAccess.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include <QCoreApplication>

namespace {

QString groupName(gid_t gid) {
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return found ? QString::fromLocal8Bit(found->gr_name) : QString();
}

} // namespace

int deviceAccessError(const QString& path) {
    if (path.isEmpty())
        return 0;
    // The effective ids are the ones open() is checked against.
    if (faccessat(AT_FDCWD, path.toLocal8Bit().constData(), R_OK | W_OK, AT_EACCESS) == 0)
        return 0;
    return errno == EACCES ? EACCES : 0;
}

QString devicePermissionHint(const QString& path, int error) {
    if (error != EACCES)
        return {};
    struct stat st {};
    const bool known = stat(path.toLocal8Bit().constData(), &st) == 0;
    const QString group = known ? groupName(st.st_gid) : QString();
    const bool groupMayUse = known && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    // Joining root's group would not help and must not be advised.
    if (group.isEmpty() || !groupMayUse || st.st_gid == 0)
        return QCoreApplication::translate("DeviceAccess",
                                           "このデバイスを読み書きできるグループがありません。"
                                           "管理者にデバイスの権限の設定を依頼してください。");
    return QCoreApplication::translate(
               "DeviceAccess", "このデバイスはグループ %1 のメンバーが使えます。"
                               "次のコマンドでユーザーをグループに加え、ログインし直してください"
                               "（加えてあればログインし直すだけで使えます）:\n"
                               "sudo usermod -aG %1 $USER")
        .arg(group);
}
