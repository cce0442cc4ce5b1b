#pragma once
// The key of the hash chains: 32 random bytes that the service makes once in its data folder,
// readable by its account alone. A writer that holds it links every new row with HMAC-SHA-256
// under it (chain.h), so that rows rewritten beside the service no longer verify.

#include <QByteArray>
#include <QString>

namespace store::chain {

inline constexpr int kKeySize = 32;

// The key's file in a data folder.
QString keyPath(const QString& dir);

struct KeyFile {
    enum class State {
        Read,        // found and read
        Made,        // there was none: made now
        Missing,     // there is none (readKey only)
        Unreadable,  // there is one that this account cannot read
        WrongSize,   // there is one, but not of a key's size
        NotMade,     // there was none, and none could be made
    } state = State::Missing;
    QByteArray key;  // kKeySize bytes where Read or Made
    bool usable() const { return state == State::Read || state == State::Made; }
};

// The key of the folder as it is; nothing is made.
KeyFile readKey(const QString& dir);
// The service's own: the folder's key, made where there is none. A key file that is there but
// unusable is left as it is (a new key would leave every row linked under the old unverifiable).
KeyFile takeKey(const QString& dir);
// In the chosen language, for the log and the service's refusal; empty where the key is usable.
QString keyProblemText(const KeyFile& k, const QString& dir);

// The key the writers and the verifier of this process link with; empty: none (plain SHA-256).
void setKey(const QByteArray& key);
QByteArray key();

// HMAC-SHA-256 of data under key.
QByteArray mac(const QByteArray& key, const QByteArray& data);

}  // namespace store::chain
