#include "ui/messages.h"

#include <QApplication>
#include <QMessageBox>

#include "context/program_context.h"

namespace vantrel {
namespace {

MessageRecorder& Recorder() {
    static MessageRecorder recorder;
    return recorder;
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& caption) {
    if (Recorder()) {
        Recorder()(text, caption);
        return;
    }
    if (parent == nullptr) {
        parent = QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget()
                                                              : QApplication::activeWindow();
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.exec();
}

void SetMessageRecorder(MessageRecorder recorder) {
    Recorder() = std::move(recorder);
}

void InstallCatalogueMessages(ProgramContext& context) {
    context.SetMessageSink(
        [](const char* text) { ShowMessage(nullptr, QString::fromUtf8(text), QString::fromLatin1(kProgramCaption)); });
}

}  // namespace vantrel
