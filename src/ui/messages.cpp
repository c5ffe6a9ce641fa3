#include "ui/messages.h"

#include <QApplication>
#include <QMessageBox>

#include "context/program_context.h"

namespace vantrel {
namespace {

QWidget* ActiveWindowOr(QWidget* parent) {
    if (parent != nullptr) {
        return parent;
    }
    return QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget()
                                                        : QApplication::activeWindow();
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, ActiveWindowOr(parent));
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, ActiveWindowOr(parent));
    box.setObjectName(QStringLiteral("questionBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void InstallCatalogueMessages(ProgramContext& context) {
    context.SetMessageSink(
        [](const char* text) { ShowMessage(nullptr, QString::fromUtf8(text), QString::fromLatin1(kProgramCaption)); });
}

}  // namespace vantrel
