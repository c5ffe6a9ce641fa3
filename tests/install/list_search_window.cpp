// Lists what the operator reads on the search window, one per line, so that the man page check can compare it
// with vantrel(1): "heading<TAB>text" for each column of each list, "entry<TAB>text" for each button and
// context-menu entry (submenus included), "key<TAB>text" for each keyboard shortcut and button mnemonic.
// Mnemonic markers and a closing ellipsis are left out ("Search &networks…" is listed as "Search networks").
// The window is built but never shown, so nothing is searched; exits 1 when it lists next to nothing.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "context/program_context.h"
#include "paths/program_paths.h"
#include "ui/search_dialog.h"

namespace {

using namespace vantrel;

// Prints the listing and counts its lines.
class Listing {
public:
    void Print(const char* kind, const QString& text) {
        if (text.isEmpty()) {
            return;
        }
        out_ << kind << '\t' << text << '\n';
        ++lines_;
    }
    int Lines() const { return lines_; }

private:
    QTextStream out_{stdout};
    int lines_ = 0;
};

// "About Vantrel(&A)..." -> "About Vantrel", "Select &all" -> "Select all"
QString Plain(QString text) {
    static const QRegularExpression kBracketedMnemonic(QStringLiteral("\\(&\\w\\)"));
    static const QRegularExpression kEllipsis(QStringLiteral("(\\.\\.\\.|\u2026)$"));
    text.remove(kBracketedMnemonic);
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text.remove(kEllipsis).trimmed();
}

QString MnemonicKey(const QString& text) {
    static const QRegularExpression kMnemonic(QStringLiteral("&(\\w)"));
    QRegularExpressionMatch match = kMnemonic.match(QString(text).remove(QStringLiteral("&&")));
    return match.hasMatch() ? QStringLiteral("Alt+") + match.captured(1).toUpper() : QString();
}

void PrintHeadings(Listing& listing, const QWidget& window) {
    for (const QAbstractItemView* view : window.findChildren<QAbstractItemView*>()) {
        if (qobject_cast<const QHeaderView*>(view) != nullptr) {
            continue;  // a list's own headings, with the list's model
        }
        const QAbstractItemModel* model = view->model();
        for (int column = 0; model != nullptr && column < model->columnCount(); ++column) {
            listing.Print("heading", model->headerData(column, Qt::Horizontal).toString());
        }
    }
}

void PrintButtons(Listing& listing, const QWidget& window) {
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->isHidden() || button->window() != &window) {
            continue;
        }
        listing.Print("entry", Plain(button->text()));
        listing.Print("key", MnemonicKey(button->text()));
    }
}

void PrintShortcuts(Listing& listing, const QWidget& window) {
    for (const QAction* action : window.findChildren<QAction*>()) {
        listing.Print("key", action->shortcut().toString(QKeySequence::PortableText));
    }
}

void PrintMenu(Listing& listing, const QMenu& menu) {
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            continue;
        }
        listing.Print("entry", Plain(action->text()));
        listing.Print("key", action->shortcut().toString(QKeySequence::PortableText));
        if (const QMenu* submenu = action->menu()) {
            PrintMenu(listing, *submenu);
        }
    }
}

// The window builds its context menu when asked for it: ask, read the menu once it is up, close it.
void PrintContextMenu(Listing& listing, QWidget& window) {
    QTimer::singleShot(0, [&listing] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            PrintMenu(listing, *menu);
            menu->close();
        }
    });
    QContextMenuEvent ask(QContextMenuEvent::Keyboard, QPoint(10, 10), QPoint(10, 10));
    QApplication::sendEvent(&window, &ask);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir(folder.path()).mkdir(QStringLiteral("XML"))) {
        std::fprintf(stderr, "cannot make a data folder\n");
        return 2;
    }
    ProgramContext context(PathsBeside(folder.path().toStdString()));
    SearchDialog window(context);
    Listing listing;
    PrintHeadings(listing, window);
    PrintButtons(listing, window);
    PrintShortcuts(listing, window);
    PrintContextMenu(listing, window);
    // the number columns, Add, Refresh and the menu at the very least
    return listing.Lines() >= 10 ? 0 : 1;
}
