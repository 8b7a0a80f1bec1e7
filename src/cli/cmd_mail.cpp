#include "cli/cli.h"
#include "cli/consoleoutput.h"

#include "mail/mailstatus.h"
#include "mail/paymentmail.h"
#include "mail/smtpsession.h"

#include <QFileInfo>

namespace velmar::cli {
namespace {

int sendTest(Context& ctx, QStringList& args)
{
    const bool verbose = takeFlag(args, QStringLiteral("--verbose"));
    QString to;
    takeOption(args, QStringLiteral("--to"), &to);
    QStringList pdfs;
    QString pdf;
    while (takeOption(args, QStringLiteral("--pdf"), &pdf))
        pdfs.append(pdf);
    if (unexpectedArguments(ctx, args))
        return 2;
    if (to.isEmpty() || pdfs.isEmpty() || pdfs.size() > 2) {
        ctx.err << "usage: send-test --to ADDRESS --pdf FILE [--pdf FILE] [--verbose]" << Qt::endl;
        return 2;
    }

    if (const QString noServer = MissingMailServerMessage(ctx.settings); !noServer.isEmpty()) {
        ctx.err << noServer << Qt::endl;
        return 1;
    }
    if (const QString problem = SenderProblem(ctx.settings); !problem.isEmpty()) {
        ctx.err << problem << Qt::endl;
        return 1;
    }
    ConsoleStatus status(ctx.out);
    SmtpSession session(verbose ? &status : nullptr);
    MailResult result = session.SmtpLogin(ctx.settings);
    if (!result.ok()) {
        ctx.err << result.within(QStringLiteral(" logging into email server")) << Qt::endl;
        return 1;
    }

    PaymentMail mail;
    mail.pdfPath = pdfs.at(0);
    mail.recipient = to;
    mail.salutationName = to;
    mail.proFormaPdfName = QFileInfo(pdfs.at(0)).fileName();
    if (pdfs.size() == 2) {
        mail.pensionFormWanted = true;
        mail.soloPdfPath = pdfs.at(1);
        mail.soloPdfName = QFileInfo(pdfs.at(1)).fileName();
    }
    result = SendPaymentMail(session, ctx.settings, mail);
    session.Quit();
    if (!result.ok()) {
        ctx.err << result.within(QStringLiteral(" sending email to ") + to) << Qt::endl;
        return 1;
    }
    ctx.out << "sent to " << (ctx.settings.TEST.isEmpty() ? to : ctx.settings.TEST) << Qt::endl;
    return 0;
}

const Command sendTestCommand("send-test",
                              "send-test --to ADDRESS --pdf FILE [--pdf FILE] [--verbose]\n"
                              "                               send one message with the EMail settings;\n"
                              "                               --verbose prints the dialogue with the server",
                              Needs::Nothing, sendTest);

} // namespace
} // namespace velmar::cli
