#pragma once
// How forwarding is going, as the status bar says it: healthy, waiting for the server or failed
// for a reason the operator has to mend; the note of records the server will never get; and the
// pause before the next attempt.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "base/backoff.h"
#include "base/tr.h"

namespace forward {

enum class State { Healthy, Waiting, Failed };

// Why forwarding failed: the words in Chinese, with %1 for the server's error code where they name
// one ("服务器拒绝写入 (%1)").
struct Reason {
    QString words;
    QString code{};
    bool operator==(const Reason&) const = default;
};

struct Status {
    State state = State::Waiting;
    int64_t pending = 0;
    QString reason;  // Failed: why, in Chinese (Reason's words)
    QString code{};  // the server's error code the reason names, if any
    bool operator==(const Status&) const = default;
};

// "转发: 正常", "转发: 等待服务器 (N 条待发)", "转发: 错误: reason", in the language.
QString statusText(const Status& s, base::Lang lang = base::Lang::Stored);
// The note of samples and events the server will never get, or empty.
QString skippedText(int64_t samples, int64_t events, base::Lang lang = base::Lang::Stored);
// The event log's line of a skip found ("forward.skipped": samples, events), in the language;
// nullopt for another code.
inline const QString kSkippedCode = QStringLiteral("forward.skipped");
std::optional<QString> eventText(const QString& code, const QStringList& args, base::Lang lang);

// A failure the operator has to mend (password, database, permissions) is an error; anything else
// (no answer, refused, dropped) is waiting for the server. Returns the reason for an error,
// nullopt for waiting.
std::optional<Reason> errorReason(const QString& message, const QString& sqlState);

// The pause before the next attempt after `failures` failures in a row: 1, 2, 4 ... up to 30 s.
inline constexpr base::Backoff kRetry{1000, 30000};
int retryDelayMs(int failures);

}  // namespace forward
