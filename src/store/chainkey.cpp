#include "store/chainkey.h"

#include <sodium.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>

#include "base/baseos.h"
#include "base/tr.h"

namespace store::chain {

namespace {

std::mutex& keyLock() {
    static std::mutex m;
    return m;
}

QByteArray& heldKey() {
    static QByteArray k;
    return k;
}

}  // namespace

QString keyPath(const QString& dir) {
    return QDir(dir).filePath(QStringLiteral("chain.key"));
}

KeyFile readKey(const QString& dir) {
    KeyFile k;
    const QString path = keyPath(dir);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return k;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        k.state = KeyFile::State::Unreadable;
        return k;
    }
    // One byte more than a key: a longer file is told apart from a key.
    const QByteArray bytes = f.read(kKeySize + 1);
    if (f.error() != QFileDevice::NoError) {
        k.state = KeyFile::State::Unreadable;
        return k;
    }
    if (bytes.size() != kKeySize) {
        k.state = KeyFile::State::WrongSize;
        return k;
    }
    k.state = KeyFile::State::Read;
    k.key = bytes;
    return k;
}

KeyFile takeKey(const QString& dir) {
    KeyFile k = readKey(dir);
    if (k.state != KeyFile::State::Missing) return k;
    if (sodium_init() < 0) {
        k.state = KeyFile::State::NotMade;
        return k;
    }
    QByteArray fresh(kKeySize, '\0');
    randombytes_buf(fresh.data(), size_t(fresh.size()));
    if (!base::createPrivateFile(keyPath(dir), fresh)) {
        // Another start may have made it meanwhile: that one's key is the key.
        k = readKey(dir);
        if (k.state == KeyFile::State::Missing) k.state = KeyFile::State::NotMade;
        return k;
    }
    k.state = KeyFile::State::Made;
    k.key = fresh;
    return k;
}

QString keyProblemText(const KeyFile& k, const QString& dir) {
    const QString path = QDir::toNativeSeparators(keyPath(dir));
    switch (k.state) {
        case KeyFile::State::Read:
        case KeyFile::State::Made:
            return QString();
        case KeyFile::State::Missing:
            return base::Tr::tr("没有哈希链密钥 %1").arg(path);
        case KeyFile::State::Unreadable:
            return base::Tr::tr("无法读取哈希链密钥 %1").arg(path);
        case KeyFile::State::WrongSize:
            return base::Tr::tr("哈希链密钥 %1 已损坏（长度不对）").arg(path);
        case KeyFile::State::NotMade:
            return base::Tr::tr("无法创建哈希链密钥 %1").arg(path);
    }
    return QString();
}

void setKey(const QByteArray& key) {
    std::lock_guard lock(keyLock());
    heldKey() = key;
}

QByteArray key() {
    std::lock_guard lock(keyLock());
    return heldKey();
}

QByteArray mac(const QByteArray& key, const QByteArray& data) {
    QByteArray out(crypto_auth_hmacsha256_BYTES, '\0');
    crypto_auth_hmacsha256_state st;
    crypto_auth_hmacsha256_init(&st, reinterpret_cast<const unsigned char*>(key.constData()),
                                size_t(key.size()));
    crypto_auth_hmacsha256_update(&st, reinterpret_cast<const unsigned char*>(data.constData()),
                                  quint64(data.size()));
    crypto_auth_hmacsha256_final(&st, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

}  // namespace store::chain
