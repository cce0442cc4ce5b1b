#include "auth/password.h"

#include <sodium.h>

#include <QList>

namespace auth {

HashCost HashCost::interactive() {
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

HashCost HashCost::moderate() {
    return {crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
}

HashCost HashCost::minimum() {
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

bool cryptoReady() {
    static const bool ready = sodium_init() >= 0;  // thread-safe, and once
    return ready;
}

QByteArray hashPassword(const QString& password, const HashCost& cost) {
    if (!cryptoReady()) return {};
    QByteArray secret = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const int rc =
        crypto_pwhash_str(out, secret.constData(), static_cast<unsigned long long>(secret.size()),
                          cost.ops, cost.memBytes);
    sodium_memzero(secret.data(), static_cast<size_t>(secret.size()));
    return rc == 0 ? QByteArray(out) : QByteArray();
}

bool verifyPassword(const QByteArray& hash, const QString& password) {
    if (!cryptoReady() || hash.isEmpty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
    QByteArray secret = password.toUtf8();
    // The hash is copied so that libsodium reads a terminated string of its own size.
    char stored[crypto_pwhash_STRBYTES] = {};
    memcpy(stored, hash.constData(), static_cast<size_t>(hash.size()));
    const bool ok = crypto_pwhash_str_verify(stored, secret.constData(),
                                             static_cast<unsigned long long>(secret.size())) == 0;
    sodium_memzero(secret.data(), static_cast<size_t>(secret.size()));
    return ok;
}

bool needsRehash(const QByteArray& hash, const HashCost& cost) {
    if (!cryptoReady() || hash.size() >= crypto_pwhash_STRBYTES) return true;
    char stored[crypto_pwhash_STRBYTES] = {};
    memcpy(stored, hash.constData(), static_cast<size_t>(hash.size()));
    return crypto_pwhash_str_needs_rehash(stored, cost.ops, cost.memBytes) != 0;
}

bool longEnough(const QString& password) {
    return password.toUcs4().size() >= kMinPasswordLength;
}

bool guessable(const QString& userId, const QString& password) {
    if (password.trimmed().isEmpty()) return true;
    const QString id = userId.trimmed().toCaseFolded();
    if (id.isEmpty()) return false;
    const QString typed = password.toCaseFolded();
    for (qsizetype i = 0; i < typed.size(); i += id.size())
        if (typed.mid(i, id.size()) != id.left(typed.size() - i)) return false;
    return true;
}

}  // namespace auth
