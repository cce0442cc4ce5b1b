#pragma once
// "审计审阅…" in the event window: the audit trail of the window's span exported as PDF and CSV
// with the chains' verdict, a signature offered first while access control is on.

#include <QString>

namespace shell {

class EventWindow;

// Asks for the PDF's name, then reviews into it.
void reviewAuditTrail(EventWindow& window, const QString& dbPath, const QString& usersPath);
// With access control on, the signature dialog first (closing it exports nothing); then the
// files, made off the UI thread; the window's status says how it ended.
void reviewAuditTrailTo(EventWindow& window, const QString& dbPath, const QString& usersPath,
                        const QString& pdfPath);

}  // namespace shell
