#pragma once

// Text the operator typed, into a record's fixed field.

#include <QByteArray>
#include <QString>
#include <cstring>
#include <string_view>

#include "records/records.h"
#include "records/text_field.h"

namespace vantrel {

// The UTF-8 of text in field, cut at a whole character (CopyToField); the rest of the field zero-filled.
inline void CopyText(char (&field)[kTextFieldSize], const QString& text) {
    QByteArray bytes = text.toUtf8();
    CopyText(field, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace vantrel
