#pragma once

// Helpers for the search window's tests that need no network: rows as the search session hands them out,
// a search that only ever talks to loopback, and the mnemonic letters of a window or menu.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QStringList>
#include <QWidget>
#include <cstring>

#include "discovery/found_row.h"
#include "discovery/search_session.h"

namespace vantrel::testing {

// Row number of a round: the device at address:port announcing a /24 with gateway 192.168.1.1, answering
// from its own address on adapter veth0 (192.168.1.1/24), once, to the native search.
inline FoundRow RowOf(std::uint32_t number, const char* address, std::uint16_t port) {
    FoundRow row;
    row.number = number;
    row.round = 1;
    row.protocols = kProtocolNative;
    inet_pton(AF_INET, address, &row.device.address);
    row.device.subnetMask = htonl(0xFFFFFF00u);
    row.device.gateway = htonl(0xC0A80101u);
    row.device.port = port;
    std::strncpy(row.device.addressText, address, sizeof row.device.addressText - 1);
    row.senderAddress = row.device.address;
    row.senderPort = 5050;
    row.senders = {row.senderAddress};
    row.adapterIndex = 2;
    std::strncpy(row.adapterName, "veth0", sizeof row.adapterName - 1);
    inet_pton(AF_INET, "192.168.1.1", &row.adapterAddress);
    row.adapterMask = htonl(0xFFFFFF00u);
    row.probesSeen = 1;
    row.replies = 1;
    row.firstReplyNs = row.lastReplyNs = 1'700'000'000'000'000'000LL + number * 1'000'000'000LL;
    return row;
}

// One probe to the discard port of loopback, from an ephemeral port: nothing answers, nothing leaves the host
// (and the tests run in a namespace of their own anyway).
inline SearchSessionOptions LoopbackSearch() {
    SearchSessionOptions options;
    options.addresses.destinationAddress = INADDR_LOOPBACK;
    options.addresses.destinationPort = 9;
    options.addresses.localAddress = INADDR_LOOPBACK;
    options.addresses.localPort = 0;
    options.probeDelaysMs = {0};
    options.settleMs = 50;
    return options;
}

// The letter after a single '&' ("Search &networks…" gives N), upper case; null for none ("&&" is an &).
inline QChar MnemonicOf(const QString& text) {
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (text[i + 1] != QLatin1Char('&')) {
                return text[i + 1].toUpper();
            }
            ++i;
        }
    }
    return {};
}

// "A: &Add, About(&A)" for each letter that more than one text uses.
inline QStringList Clashes(const QStringList& texts) {
    QMap<QChar, QStringList> byLetter;
    for (const QString& text : texts) {
        QChar letter = MnemonicOf(text);
        if (!letter.isNull()) {
            byLetter[letter] << text;
        }
    }
    QStringList clashes;
    for (auto it = byLetter.begin(); it != byLetter.end(); ++it) {
        if (it.value().size() > 1) {
            clashes << QStringLiteral("%1: %2").arg(it.key()).arg(it.value().join(QStringLiteral(", ")));
        }
    }
    return clashes;
}

// Letters shared within one window: its buttons, labels with a buddy and group boxes that the operator can
// see (those of other windows inside it, such as a menu, are not its own).
inline QStringList MnemonicClashes(QWidget* window) {
    QStringList texts;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window || !widget->isVisibleTo(window)) {
            continue;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->buddy() != nullptr) {
            texts << label->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            texts << group->title();
        }
    }
    return Clashes(texts);
}

inline QStringList MnemonicClashes(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator() && action->isVisible()) {
            texts << action->text();
        }
    }
    return Clashes(texts);
}

}  // namespace vantrel::testing
