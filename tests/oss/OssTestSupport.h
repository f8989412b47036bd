#pragma once

#include "EmulatorProcess.h"

#include <alibabacloud/oss/OssClient.h>

#include <QByteArray>
#include <QCryptographicHash>

#include <memory>
#include <sstream>

namespace OssTest {

inline const std::string kBucket = "examplebucket";

inline std::unique_ptr<AlibabaCloud::OSS::OssClient>
client(const EmulatorProcess& emulator,
       const AlibabaCloud::OSS::ClientConfiguration& configuration = AlibabaCloud::OSS::ClientConfiguration())
{
    const auto credentials = std::make_shared<AlibabaCloud::OSS::SimpleCredentialsProvider>(
        emulator.options().accessKeyId.toStdString(), emulator.options().accessKeySecret.toStdString(), "");
    return std::make_unique<AlibabaCloud::OSS::OssClient>(emulator.endpoint().toStdString(), credentials,
                                                          configuration);
}

inline std::shared_ptr<std::iostream> stream(const QByteArray& data)
{
    auto s = std::make_shared<std::stringstream>(std::ios::in | std::ios::out | std::ios::binary);
    s->write(data.constData(), data.size());
    return s;
}

inline QByteArray content(const std::shared_ptr<std::iostream>& s)
{
    std::ostringstream out;
    s->seekg(0);
    out << s->rdbuf();
    return QByteArray::fromStdString(out.str());
}

inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    // In 64 bits: i * 131 leaves int's range from 16 MiB on.
    for (qint64 i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return data;
}

inline std::string quotedMd5(const QByteArray& data)
{
    return "\"" + QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper().toStdString() + "\"";
}

} // namespace OssTest
