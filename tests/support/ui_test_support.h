#pragma once

// Helpers for driving the real windows: act on the next modal dialog, record messages, a temporary
// program folder with its own database.

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "catalogue/device_catalogue.h"
#include "context/program_context.h"
#include "store/device_store.h"
#include "ui/messages.h"

namespace vantrel::testing {

// Runs act on the next visible modal dialog of type T, within five seconds; returns at once. Deleting the
// returned timer calls it off.
template <typename T>
QPointer<QTimer> WhenModal(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if ((dialog != nullptr && dialog->isVisible()) || ++*waited > 500) {
            timer->stop();
            timer->deleteLater();
            if (dialog != nullptr) {
                act(dialog);
            }
        }
    });
    timer->start(10);
    return timer;
}

struct Message {
    QString text;
    QString caption;
    QString details;  // the box's scrollable details area
};

// Records every message box ShowMessage puts up while alive, and closes it as the operator would with OK.
// Questions (AskYesNo) are left to the test to answer.
class MessageLog : public QObject {
public:
    MessageLog() { QApplication::instance()->installEventFilter(this); }
    ~MessageLog() override { QApplication::instance()->removeEventFilter(this); }
    QStringList Texts() const {
        QStringList texts;
        for (const Message& m : messages) {
            texts << m.text;
        }
        return texts;
    }
    std::vector<Message> messages;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* box = qobject_cast<QMessageBox*>(watched);
            if (box != nullptr && box->objectName() == QStringLiteral("messageBox")) {
                messages.push_back({box->text(), box->windowTitle(), box->detailedText()});
                QMetaObject::invokeMethod(
                    box, [box] { box->done(QMessageBox::Ok); }, Qt::QueuedConnection);
            }
        }
        return false;
    }
};

// A fresh program folder with an XML/ folder and the program's context over it, showing its messages as the
// program does; the catalogue and store start anew.
class ProgramFolder {
public:
    ProgramFolder() {
        QDir(dir.path()).mkdir(QStringLiteral("XML"));
        InstallCatalogueMessages(context_);
    }
    QString Path() const { return dir.path() + QLatin1Char('/'); }
    QString DatabasePath() const { return QString::fromStdString(context_.Paths().DatabasePath()); }
    ProgramContext& Context() { return context_; }

    // Drops the catalogue and the store, then loads the catalogue from the file again.
    void Reload() {
        context_.ReleaseCatalogue();
        context_.Catalogue()->LoadAll();
    }

private:
    QTemporaryDir dir;
    ProgramContext context_{PathsBeside(dir.path().toStdString())};
};

}  // namespace vantrel::testing
