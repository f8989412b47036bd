#include "LoginConfigFile.h"

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace LoginConfigFile {

namespace {

std::vector<unsigned char> keyCopy()
{
    return std::vector<unsigned char>(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY));
}

} // namespace

QByteArray encode(const OssLoginInfo& info)
{
    const std::string text = "host=" + info.host + "\nbucket=" + info.bucket + "\naccessId=" + info.accessId
                             + "\naccessSecret=" + info.accessSecret;
    // At least one zero byte ends the text, as the library's own file form does.
    std::vector<unsigned char> plain((text.size() / 16 + 1) * 16, 0);
    std::copy(text.begin(), text.end(), plain.begin());
    std::vector<unsigned char> key = keyCopy();
    QuilmAes::Aes aes;
    if (aes.AesEncode(plain.data(), static_cast<int>(plain.size()), key.data(), NIMBREL_CONFIG_KEY_LENGTH) != 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(aes.encodeOutput.get()), static_cast<qsizetype>(plain.size()));
}

bool write(const QString& path, const OssLoginInfo& info, QString& error)
{
    const QByteArray bytes = encode(info);
    QSaveFile file(path);
    // The file holds the storage secret: its owner's alone from its creation on, whatever
    // the umask and the mode of a file it replaces.
    const mode_t savedMask = umask(077);
    const bool opened = file.open(QIODevice::WriteOnly);
    umask(savedMask);
    if (bytes.isEmpty() || !opened || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool read(const QString& path, OssLoginInfo& info, QString& error)
{
    std::vector<unsigned char> key = keyCopy();
    QuilmAes::Aes aes;
    if (aes.AesDecode(QFile::encodeName(path).toStdString(), key.data(), NIMBREL_CONFIG_KEY_LENGTH) != 0) {
        error = QString("cannot decipher %1: the file is missing, unreadable, empty or not a whole number of "
                        "16-byte blocks")
                    .arg(path);
        return false;
    }
    const std::string text(reinterpret_cast<const char*>(aes.decodeOutput.get()));
    if (!ConfigFileParser().ParseOssLoginInfo(text, info)) {
        error = QString("%1 holds no login configuration (another key, or damaged)").arg(path);
        return false;
    }
    return true;
}

} // namespace LoginConfigFile
