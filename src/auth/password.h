#pragma once
// Password hashes: Argon2id through libsodium, in its self-describing string form (algorithm,
// cost and salt inside), so a hash made at another cost still verifies.

#include <QByteArray>
#include <QString>

namespace auth {

// What one hash costs. The product uses interactive(): about 0.17 s and 64 MiB on the reference
// PC, where moderate() takes a second and 256 MiB, too long for a login on a shared machine.
struct HashCost {
    unsigned long long ops = 0;
    size_t memBytes = 0;

    static HashCost interactive();
    static HashCost moderate();
    static HashCost minimum();  // the least libsodium allows (tests that make many hashes)
};

// Whether libsodium could be set up (once per process); nothing can be hashed otherwise.
bool cryptoReady();

// The hash string of a password; empty when libsodium fails (out of memory).
QByteArray hashPassword(const QString& password, const HashCost& cost);
// Whether the password is the one the hash was made of. A malformed hash verifies nothing.
bool verifyPassword(const QByteArray& hash, const QString& password);
// Whether the hash was made at another cost than this one (to be made anew at the next login).
bool needsRehash(const QByteArray& hash, const HashCost& cost);

// The password rule: at least this many characters.
constexpr int kMinPasswordLength = 8;
bool longEnough(const QString& password);
// Whether the password guesses itself: only blanks, or the user id typed over and over (in any
// case, the last time perhaps cut short).
bool guessable(const QString& userId, const QString& password);

}  // namespace auth
