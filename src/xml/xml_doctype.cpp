// Document type declarations: the DOCTYPE with its words and internal subset, and the markup declarations
// (ENTITY, ATTLIST, ELEMENT, NOTATION) inside it.

#include <cstring>
#include <optional>

#include "xml_parse_state.h"

namespace vantrel::parsing {

// The words after the keyword: the root name, then names and quoted strings. closed: a word's following
// byte, stepped over, was the declaration's ">".
Parser::State Parser::DoctypeWords(char*& p, bool keep, bool& closed) {
    auto addWord = [&](char* start, char* end) {
        if (XmlAttribute* attribute = keep ? AddAttribute() : nullptr) {
            // the word is a run of name bytes: its name is the span up to end
            attribute->nameAt = attribute->valueAt = At(start);
            attribute->valueLength = SpanLength(start, end);
        }
    };
    const char* start = p;
    char* wordEnd = SkipName(p);
    if (wordEnd == p)
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
    addWord(p, wordEnd);
    p = wordEnd;
    if (*p == '\0')
        return CutOff(p, start, "the document type declaration");
    char byteAfter = *p++;
    if (IsSpace(byteAfter)) {
        p = SkipSpace(p);
    } else if (byteAfter == '>') {
        closed = true;
    } else {
        Damage(p - 1, XmlDamage::BadMarkup, "the document type declaration");
    }
    for (;;) {
        if (IsName(*p)) {
            if (closed)
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            wordEnd = SkipName(p);
            addWord(p, wordEnd);
            p = wordEnd;
            if (*p == '\0')
                return CutOff(p, start, "the document type declaration");
            if (*p == '>') {
                closed = true;
            } else if (!IsSpace(*p)) {
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            }
            p = SkipSpace(p + 1);
        } else if (*p == '"' || *p == '\'') {
            if (closed)
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            char* valueStart = p + 1;
            XmlAttribute* attribute = keep ? AddAttribute() : nullptr;
            if (attribute != nullptr)
                attribute->valueAt = At(valueStart);
            char* close = Find(valueStart, *p);
            if (close == nullptr)
                return CutOff(p, start, "the document type declaration");
            if (attribute != nullptr)
                attribute->valueLength = SpanLength(valueStart, close);
            p = SkipSpace(close + 1);
        } else {
            break;
        }
    }
    return State::Scan;
}

// p is on the "E" that ends the keyword "DOCTYPE".
Parser::State Parser::Doctype(char*& p) {
    const char* declarationStart = p - 8;
    p = SkipSpace(p + 1);
    // Past the nesting limit a DOCTYPE is skipped like one that is not kept, so recursion stays bounded.
    bool keep = Has(XmlParseOptions::KeepDtd) && doctypeDepth_ < kMaxDoctypeNesting;
    if (doctypeDepth_ >= kMaxDoctypeNesting)
        Damage(declarationStart, XmlDamage::BadMarkup, "the document type declaration");
    XmlNode* saved = current_;
    XmlNode* doctype = nullptr;
    if (keep) {
        doctype = AddNode(XmlNodeKind::Doctype, declarationStart);
        if (doctype == nullptr)
            return State::Stop;
        current_ = doctype;
    }
    bool closed = false;
    BeginAttributes();
    State words = DoctypeWords(p, keep, closed);
    if (doctype != nullptr)
        CommitAttributes(doctype);
    if (words == State::Stop)
        return State::Stop;

    if (*p != '[') {
        if (keep)
            Restore(saved);
        if (!closed) {
            if (*p == '>') {
                ++p;
            } else if (*p != '\0') {
                Damage(p, XmlDamage::BadMarkup, "the document type declaration");
            }
        }
        if (*p == '\0' && !closed)
            Damage(declarationStart, XmlDamage::CutOff, "the document type declaration");
        return State::Scan;
    }
    if (closed)
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
    char* start = p + 1;
    char* end = start;
    for (int depth = 1; *end != '\0'; ++end) {
        if (*end == '[') {
            ++depth;
        } else if (*end == ']' && --depth == 0) {
            break;
        }
    }
    if (*end == '\0') {
        if (doctype != nullptr)
            XmlBorrowValue(doctype, start, doctype->valueLength);
        p = end;
        Damage(declarationStart, XmlDamage::CutOff, "the document type declaration");
        return State::Stop;
    }
    if (keep) {
        bool parse = Has(XmlParseOptions::ParseInternalSubset);
        bool stop = Has(XmlParseOptions::StopAfterInternalSubset);
        SetValue(doctype, start, end, !parse && !stop && Has(XmlParseOptions::TrimInternalSubset));
        if (parse) {
            *end = '\0';
            Parser nested(doctype, step_, options_, doctypeDepth_ + 1, depth_, result_);
            nested.Run(start);
            *end = ']';
        }
        if (stop) {
            p = end + 1;
            return State::Stop;
        }
        Restore(saved);
    }
    p = end + 1;
    char* close = Find(p, '>');
    if (close == nullptr)
        return CutOff(p, declarationStart, "the document type declaration");
    if (!AllSpace(p, close))
        Damage(p, XmlDamage::BadMarkup, "the document type declaration");
    p = close + 1;
    return State::Scan;
}

// p is just past a word of a markup declaration, which goes on only when white space follows: then p moves past
// it and nothing is given. Otherwise gives what to return: Stop at the end of the text, else Scan with the
// declaration dropped and the byte after the word passed over (no damage when closingAllowed and it was ">").
std::optional<Parser::State> Parser::SpaceAfterDeclarationWord(char*& p, bool closingAllowed) {
    if (*p == '\0') {
        Damage(p, XmlDamage::CutOff, "a markup declaration");
        return State::Stop;
    }
    if (!IsSpace(*p)) {
        if (!closingAllowed || *p != '>')
            Damage(p, XmlDamage::BadMarkup, "a markup declaration");
        Pop();
        ++p;
        return State::Scan;
    }
    p = SkipSpace(p);
    return std::nullopt;
}

// p is on the first byte of the keyword after "<!".
Parser::State Parser::MarkupDeclaration(char*& p) {
    const char* declarationStart = p - 2;
    char* keywordEnd = SkipName(p);
    std::size_t keywordLength = static_cast<std::size_t>(keywordEnd - p);
    auto is = [&](const char* keyword) {
        return std::strlen(keyword) == keywordLength && std::memcmp(p, keyword, keywordLength) == 0;
    };
    XmlNodeKind kind = is("ATTLIST")    ? XmlNodeKind::AttlistDecl
                       : is("ELEMENT")  ? XmlNodeKind::ElementDecl
                       : is("NOTATION") ? XmlNodeKind::NotationDecl
                                        : XmlNodeKind::EntityDecl;
    // any other keyword is written back as ENTITY
    if (kind == XmlNodeKind::EntityDecl && !is("ENTITY"))
        Damage(declarationStart, XmlDamage::BadMarkup, "a markup declaration");
    XmlNode* node = AddNode(kind, declarationStart);
    if (node == nullptr)
        return State::Stop;
    current_ = node;
    p = keywordEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p, false))
        return *done;
    if (!IsName(*p) && *p != '%') {
        Damage(p, XmlDamage::BadMarkup, "a markup declaration");
        Pop();
        return State::Scan;
    }
    char* nameStart = p;
    if (*p == '%')
        p = SkipSpace(p + 1);
    char* nameEnd = SkipName(p);
    XmlBorrowName(node, nameStart, SpanLength(nameStart, nameEnd));
    p = nameEnd;
    if (std::optional<State> done = SpaceAfterDeclarationWord(p, true))
        return *done;
    char* valueStart = p;
    XmlBorrowValue(node, valueStart, node->valueLength);
    char* close = nullptr;
    if (kind == XmlNodeKind::EntityDecl) {
        for (char* q = valueStart; *q != '\0'; ++q) {
            if (*q == '>') {
                close = q;
                break;
            }
            if (*q == '"' || *q == '\'') {
                char* quoteEnd = Find(q + 1, *q);
                if (quoteEnd == nullptr)
                    break;
                q = quoteEnd;
            }
        }
    } else {
        close = Find(valueStart, '>');
    }
    if (close == nullptr)
        return CutOff(p, declarationStart, "a markup declaration");
    SetValue(node, valueStart, close, Has(XmlParseOptions::TrimMarkupDeclarations));
    p = close + 1;
    Pop();
    return State::Scan;
}

}  // namespace vantrel::parsing
