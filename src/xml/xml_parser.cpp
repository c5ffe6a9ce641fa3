#include "xml_parser.h"

#include <cstring>

#include "xml_parse_state.h"

namespace vantrel {

namespace parsing {

char* Parser::Run(char* p) {
    textStart_ = p;
    State state = State::Scan;
    for (;;) {
        // the usual lines of a database first, in one loop; the states below take whatever they leave
        if ((state == State::Scan || state == State::Content) && !inSubset_)
            state = UsualLines(p, state);
        switch (state) {
            case State::Scan: {
                // mostly a line end and indentation before the next tag
                char* next = SkipSpace(p);
                if (*next == '<') {
                    p = next + 1;
                    state = State::Tag;
                    break;
                }
                if (*p == '\0')
                    return p;
                char* open = Find(p, '<');
                if (open == nullptr) {
                    char* end = p + std::strlen(p);
                    CheckSkipped(p, end);
                    return end;
                }
                CheckSkipped(p, open);
                p = open + 1;
                state = State::Tag;
                break;
            }
            case State::Tag:
                state = Tag(p);
                break;
            case State::Content:
                state = Content(p);
                break;
            case State::Stop:
            case State::Pending:
                return p;
        }
    }
}

void Parser::Finish(char* stop) {
    if (document_ == nullptr)
        return;
    if (*stop != '\0' && !AllSpace(stop, stop + std::strlen(stop)))
        Damage(stop, XmlDamage::NotRead);
    for (const XmlNode* node = current_; node != document_ && node->parent != node; node = node->parent) {
        if (node->kind == XmlNodeKind::Element) {
            Damage(stop, XmlDamage::UnclosedElement, nullptr, NameOf(node));
            break;
        }
    }
    if (!rootSeen_ && !AllSpace(textStart_, stop))
        Damage(stop, XmlDamage::NoRoot);
}

// p is on the byte after "<".
Parser::State Parser::Tag(char*& p) {
    switch (*p) {
        case '?': {
            if (IsName(p[1]) && Has(XmlParseOptions::KeepDeclarations)) {
                if (Find(p + 1, '?') == nullptr)
                    return CutOff(p, p - 1, "a declaration");
                XmlNode* node = AddNode(XmlNodeKind::Declaration, p - 1);
                if (node == nullptr)
                    return State::Stop;
                current_ = node;
                ++p;
                return TagBody(p, node);
            }
            if (!IsName(p[1]))
                Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
            char* close = Find(p, '>');
            if (close == nullptr)
                return CutOff(p, p - 1, "a declaration");
            p = close + 1;
            return State::Scan;
        }
        case '!':
            switch (p[1]) {
                case '-':
                    return Comment(p);
                case '[':
                    if (std::strncmp(p + 2, "INCLUDE[", 8) == 0) {
                        return Section(p, XmlParseOptions::KeepDtd, XmlNodeKind::IncludeSection, 10,
                                       "an INCLUDE section");
                    }
                    if (std::strncmp(p + 2, "CDATA[", 6) == 0)
                        return Section(p, XmlParseOptions::KeepCData, XmlNodeKind::CData, 8, "a CDATA section");
                    Damage(p - 1, XmlDamage::BadMarkup, "a section");
                    // the keyword bytes passed over hold no "<", so scanning on from here finds the same one
                    p += 2;
                    return State::Scan;
                case 'D':
                    if (std::strncmp(p + 2, "OCTYPE", 6) == 0) {
                        p += 7;
                        return Doctype(p);
                    }
                    Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
                    p += 1;
                    return State::Scan;
                default:
                    if (IsName(p[1])) {
                        p += 1;
                        return MarkupDeclaration(p);
                    }
                    Damage(p - 1, XmlDamage::BadMarkup, "a declaration");
                    p += 1;
                    return State::Scan;
            }
        case '/': {
            char* after = EndTag(p);
            if (after == nullptr)
                return State::Stop;
            p = after;
            return State::Scan;
        }
        default:
            if (IsName(*p)) {
                XmlNode* node = AddNode(XmlNodeKind::Element, p - 1);
                if (node == nullptr)
                    return State::Stop;
                Open(node);
                return TagBody(p, node);
            }
            Damage(p - 1, XmlDamage::BadMarkup, "a tag");
            return State::Scan;
    }
}

// In the Scan or Content state at p, reads what nearly every line of a device database holds, in one loop:
// white space, start tags of elements whose attributes each follow one space, and end tags that name the open
// element right before their ">". Gives the state to go on in, with p where that state takes over; any other
// markup or text is left unread for it.
Parser::State Parser::UsualLines(char*& cursor, State state) {
    char* p = cursor;
    for (;;) {
        p = SkipSpace(p);
        if (*p != '<')
            break;
        if (p[1] == '/') {
            // a name this parse gave is a whole run of name bytes, as the end tag's must be
            if (current_->kind != XmlNodeKind::Element || current_->parent == current_ || !current_->nameBorrowed)
                break;
            std::string_view name = NameOf(current_);
            // stops at the text's end or the first byte that differs: reads nothing past either
            if (std::strncmp(p + 2, name.data(), name.size()) != 0 || p[2 + name.size()] != '>')
                break;
            Pop();
            p += 3 + name.size();
            state = State::Scan;
            continue;
        }
        if (!IsName(p[1]))
            break;
        XmlNode* node = AddNode(XmlNodeKind::Element, p);
        if (node == nullptr) {
            cursor = p + 1;
            return State::Stop;
        }
        Open(node);
        TagInfo tag;
        tag.start = p;
        tag.what = "a tag";
        char* name = p + 1;
        p = SkipName(name);
        node->nameAt = At(name);
        node->nameLength = SpanLength(name, p);
        BeginAttributes();
        if (*p == ' ' && IsName(p[1])) {
            state = PlainAttributes(p, tag);
            CommitAttributes(node);
            if (state == State::Pending)
                state = ElementTagEnd(p, tag);
        } else if (*p == '>') {
            ++p;
            state = State::Content;
        } else if (*p == '/' && p[1] == '>') {
            // as in TagBody: text after an empty tag without attributes is scanned past, not kept
            Pop();
            p += 2;
            state = State::Scan;
        } else {
            state = TagAfterName(p, node, tag);
        }
        if (state != State::Scan && state != State::Content) {
            cursor = p;
            return state;
        }
    }
    cursor = p;
    return state;
}

// p is on the space before the first attribute of an element's start tag. Reads the attributes as Attributes
// does, taking plain ones and the usual tag ends in line and handing anything else to Attributes itself.
Parser::State Parser::PlainAttributes(char*& p, const TagInfo& tag) {
    for (;;) {
        ++p;
        XmlAttribute* slot = AddAttributeSlot();
        if (slot == nullptr)
            return State::Pending;
        if (!PlainAttribute(p, *slot))
            return OtherAttributes(p, tag, *slot);
        if (*p == ' ' && IsName(p[1]))
            continue;
        if (*p == '/' && p[1] == '>') {
            Pop();
            p += 2;
            return State::Content;
        }
        if (*p == '>') {
            ++p;
            return State::Content;
        }
        return AfterPlainValue(p, tag);
    }
}

// The rest of a tag's attributes, from one PlainAttribute did not take (slot is its record). Kept out of line,
// as is AfterPlainValue: inlined, the unusual cases would crowd the usual ones out of registers.
Parser::State Parser::OtherAttributes(char*& p, const TagInfo& tag, XmlAttribute& slot) {
    XmlAttribute attribute;
    State done = Attribute(p, tag, attribute);
    slot = attribute;
    return done == State::Pending ? Attributes(p, tag) : done;
}

// The rest of a tag after a plain attribute's value that neither another attribute nor the tag's end follows.
Parser::State Parser::AfterPlainValue(char*& p, const TagInfo& tag) {
    State done = AfterValue(p, tag);
    return done == State::Pending ? Attributes(p, tag) : done;
}

// p is on the first byte of the name of node, which is the current parent.
Parser::State Parser::TagBody(char*& p, XmlNode* node) {
    TagInfo tag;
    tag.declaration = node->kind == XmlNodeKind::Declaration;
    tag.start = p - (tag.declaration ? 2 : 1);
    tag.what = tag.declaration ? "a declaration" : "a tag";
    char* nameEnd = SkipName(p);
    node->nameAt = At(p);
    node->nameLength = SpanLength(p, nameEnd);
    BeginAttributes();
    p = nameEnd;
    return TagAfterName(p, node, tag);
}

// p is on the byte after the name of node, the current parent, whose attributes are begun.
Parser::State Parser::TagAfterName(char*& p, XmlNode* node, const TagInfo& tag) {
    char* nameEnd = p;
    char delimiter = *nameEnd;
    if (delimiter == '\0')
        return CutOff(p, tag.start, tag.what);
    ++p;
    if (*p == '\0') {
        if (delimiter != '>' || tag.declaration)
            Damage(tag.start, XmlDamage::CutOff, tag.what);
        return State::Stop;
    }
    if (delimiter == '/') {
        if (*p != '>' || tag.declaration)
            Damage(tag.start, XmlDamage::BadMarkup, tag.what);
        char* close = Find(p, '>');
        if (close == nullptr)
            return CutOff(p, tag.start, tag.what);
        Pop();
        p = close + 1;
        return State::Scan;
    }
    if (!IsSpace(delimiter)) {
        if (!tag.declaration) {
            if (delimiter != '>')
                Damage(nameEnd, XmlDamage::BadMarkup, tag.what);
            return State::Content;
        }
        --p;
        return DeclarationEnd(p, tag);
    }
    p = SkipSpace(p);
    State done = Attributes(p, tag);
    CommitAttributes(node);
    if (done != State::Pending)
        return done;
    return tag.declaration ? DeclarationEnd(p, tag) : ElementTagEnd(p, tag);
}

// p is on the opening quote of attribute's value: sets the value and gives its closing quote, or the end of the
// text when there is none.
char* Parser::QuotedValue(char* p, XmlAttribute* attribute) {
    char* valueStart = p + 1;
    attribute->valueAt = At(valueStart);
    char* close = valueStart;
    for (;;) {
        close = FindValueStop(close, *p);
        if (*close != '<')
            break;
        // "<" inside a value: a quote is missing, and the value swallowed markup
        Damage(p, XmlDamage::BrokenAttribute, "runs into \"<\" (a quote is missing)", AttributeName(attribute));
        ++close;
    }
    if (*close == '\0')
        return close;
    std::uint32_t length = SpanLength(valueStart, close);
    if (Has(XmlParseOptions::TrimAttributeValues)) {
        Trim(valueStart, length);
        attribute->valueAt = At(valueStart);
    }
    attribute->valueLength = length;
    return close;
}

// p is on the first byte after the white space that follows a tag's name. Reads attributes up to the end of
// the tag; gives Pending when the tag goes on at p with its end (TAG-END).
Parser::State Parser::Attributes(char*& cursor, const TagInfo& tag) {
    // a local cursor stays in a register: the caller's lives in memory
    char* p = cursor;
    State done = State::Pending;
    while (done == State::Pending && IsName(*p)) {
        XmlAttribute* slot = AddAttributeSlot();
        if (slot == nullptr)
            break;
        if (!tag.declaration && PlainAttribute(p, *slot)) {
            // one space and the next name: the usual way on
            if (*p == ' ' && IsName(p[1])) {
                ++p;
                continue;
            }
            done = AfterValue(p, tag);
            continue;
        }
        // built here and stored whole once it is complete or the tag ends
        XmlAttribute attribute;
        done = Attribute(p, tag, attribute);
        *slot = attribute;
    }
    cursor = p;
    return done;
}

// p is on the first byte of an element attribute's name. The shape nearly every attribute has, name="value" with
// nothing to note, is read here in one go into slot, and p moves past the closing quote; any other shape gives
// false with p unmoved, for Attribute to read from the start.
bool Parser::PlainAttribute(char*& p, XmlAttribute& slot) {
    char* nameEnd = SkipName(p);
    if (nameEnd[0] != '=' || nameEnd[1] != '"')
        return false;
    char* valueStart = nameEnd + 2;
    char* close = FindShortValueStop(valueStart);
    if (*close != '"')
        return false;
    // spans of a text of at most kXmlMaxText bytes fit their 31 bits
    auto length = static_cast<std::uint32_t>(close - valueStart);
    // an empty value's edges are its two quotes, never white space: no test of the length needed
    if (trimValues_ && (IsSpace(valueStart[0]) | IsSpace(close[-1])))
        Trim(valueStart, length);
    slot = XmlAttribute::Borrowed(At(p), At(valueStart), length);
    p = close + 1;
    return true;
}

// p is on the first byte of an attribute's name: reads the attribute into record and anything up to the next
// attribute; Pending while the tag goes on.
Parser::State Parser::Attribute(char*& p, const TagInfo& tag, XmlAttribute& attribute) {
    char* attributeEnd = SkipName(p);
    attribute.nameAt = At(p);
    char byteAfter = *attributeEnd;
    if (byteAfter == '\0') {
        p = attributeEnd;
        return CutOff(p, tag.start, tag.what);
    }
    char* attributeStart = p;
    // a word that ends a declaration ("<?pi b?>") leaves its "?" to close it
    bool closesDeclaration = tag.declaration && byteAfter == '?';
    p = closesDeclaration ? attributeEnd : attributeEnd + 1;
    if (IsSpace(byteAfter))
        p = SkipSpace(p);
    if (byteAfter != '=' && *p != '=') {
        // no value; the byte after the name was stepped over unexamined
        if (!tag.declaration) {
            Damage(attributeStart, XmlDamage::BrokenAttribute, "has no value", Span(attributeStart, attributeEnd));
        } else if (!IsSpace(byteAfter) && !closesDeclaration) {
            Damage(attributeEnd, XmlDamage::BadMarkup, tag.what);
        }
        return State::Pending;
    }
    if (byteAfter != '=')
        ++p;
    p = SkipSpace(p);
    if (*p != '"' && *p != '\'') {
        Damage(attributeStart, tag.declaration ? XmlDamage::BadMarkup : XmlDamage::BrokenAttribute,
               tag.declaration ? tag.what : "has no quoted value", Span(attributeStart, attributeEnd));
        return State::Pending;
    }
    char* close = QuotedValue(p, &attribute);
    if (*close == '\0')
        return CutOff(p, tag.start, "an attribute value");
    p = close + 1;
    return AfterValue(p, tag);
}

// p is just past a value's closing quote: ">" and "/" end the tag (the state to go on in); white space is
// passed over; another attribute right here is noted. Pending while the tag goes on.
Parser::State Parser::AfterValue(char*& p, const TagInfo& tag) {
    if (*p == '>') {
        ++p;
        // a declaration closed by ">" alone ends here instead of taking the content as children
        if (tag.declaration) {
            Damage(tag.start, XmlDamage::BadMarkup, tag.what);
            Pop();
        }
        return State::Content;
    }
    if (*p == '/') {
        if (p[1] != '>' || tag.declaration)
            Damage(tag.start, XmlDamage::BadMarkup, tag.what);
        Pop();
        p = SkipSpace(p + 1);
        if (*p == '>')
            ++p;
        return State::Content;
    }
    if (IsSpace(*p)) {
        p = SkipSpace(p);
    } else if (IsName(*p)) {
        Damage(p, tag.declaration ? XmlDamage::BadMarkup : XmlDamage::BrokenAttribute,
               tag.declaration ? tag.what : "has no space before it",
               std::string_view(p, static_cast<std::size_t>(SkipName(p) - p)));
    }
    return State::Pending;
}

// p is on the byte of an element's start tag where no further attribute starts.
Parser::State Parser::ElementTagEnd(char*& p, const TagInfo& tag) {
    if (*p == '>') {
        ++p;
        return State::Content;
    }
    if (*p == '/' && p[1] == '>') {
        Pop();
        p += 2;
        return State::Scan;
    }
    if (*p == '\0')
        return CutOff(p, tag.start, tag.what);
    Damage(p, XmlDamage::BadMarkup, tag.what);
    return State::Scan;
}

// p is where a declaration's name or attributes end: the declaration ends after its "?" (and ">").
Parser::State Parser::DeclarationEnd(char*& p, const TagInfo& tag) {
    char* question = Find(p, '?');
    if (question == nullptr)
        return CutOff(p, tag.start, tag.what);
    if (!AllSpace(p, question) || question[1] != '>')
        Damage(tag.start, XmlDamage::BadMarkup, tag.what);
    p = SkipSpace(question + 1);
    if (*p == '>')
        ++p;
    Pop();
    return State::Content;
}

Parser::State Parser::Content(char*& p) {
    p = SkipSpace(p);
    if (*p == '\0')
        return State::Stop;
    if (*p == '<') {
        if (p[1] == '/') {
            ++p;
            char* after = EndTag(p);
            if (after == nullptr)
                return State::Stop;
            p = after;
            return State::Scan;
        }
        ++p;
        return State::Tag;
    }
    XmlNode* text = AddNode(XmlNodeKind::Text, p);
    if (text == nullptr)
        return State::Stop;
    XmlBorrowValue(text, p, text->valueLength);
    char* open = Find(p, '<');
    if (open == nullptr)
        return CutOff(p, p, "text");
    SetValue(text, p, open, Has(XmlParseOptions::TrimText));
    p = open + 1;
    if (*p == '/') {
        char* after = EndTag(p);
        if (after == nullptr)
            return State::Stop;
        p = after;
        return State::Content;
    }
    return State::Tag;
}

// p is on the "!" of "<!-".
Parser::State Parser::Comment(char*& p) {
    if (Has(XmlParseOptions::KeepComments) && p[2] == '-') {
        XmlNode* comment = AddNode(XmlNodeKind::Comment, p - 1);
        if (comment == nullptr)
            return State::Stop;
        char* start = p + 3;
        XmlBorrowValue(comment, start, comment->valueLength);
        char* end = FindText(start, "-->");
        if (end == nullptr)
            return CutOff(p, p - 1, "a comment");
        SetValue(comment, start, end, Has(XmlParseOptions::TrimComments));
        p = end + 3;
        return State::Content;
    }
    if (p[2] != '-')
        Damage(p - 1, XmlDamage::BadMarkup, "a comment");
    char* end = FindText(p + 2, "-->");
    if (end == nullptr)
        return CutOff(p, p - 1, "a comment");
    p = end + 3;
    return State::Content;
}

// p is on the "!" of "<![INCLUDE[" or "<![CDATA["; keywordLength counts from the "!" to the last "[".
Parser::State Parser::Section(char*& p, std::uint32_t keep, XmlNodeKind kind, std::size_t keywordLength,
                              const char* what) {
    char* start = p + keywordLength;
    XmlNode* node = nullptr;
    if (Has(keep)) {
        node = AddNode(kind, p - 1);
        if (node == nullptr)
            return State::Stop;
        XmlBorrowValue(node, start, node->valueLength);
    }
    char* end = FindText(start, "]]>");
    if (end == nullptr)
        return CutOff(p, p - 1, what);
    if (node != nullptr)
        SetValue(node, start, end, Has(XmlParseOptions::TrimSections));
    p = end + 3;
    return State::Content;
}

}  // namespace parsing

XmlParseResult XmlParse(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options) {
    XmlParseResult result;
    result.stop = text;
    if (text == nullptr || parent == nullptr || parent->arena == nullptr)
        return result;
    // attribute spans are offsets into the one text a tree is parsed from
    XmlArena* arena = parent->arena;
    if (arena->text == nullptr)
        arena->text = text;
    if (text != arena->text)
        return result;
    parsing::Parser parser(parent, growthStep < 1 ? 1u : static_cast<std::uint32_t>(growthStep), options, 0, 0, result);
    char* stop = parser.Run(text);
    parser.Finish(stop);
    result.stop = stop;
    result.outOfMemory = parent->arena->Exhausted();
    return result;
}

std::string XmlDescribeDamage(const XmlParseResult& result) {
    auto quoted = [](std::string_view name) {
        // a hostile file decides the length of a name
        constexpr std::size_t kLongest = 64;
        return std::string(name.substr(0, kLongest)) + (name.size() > kLongest ? "..." : "");
    };
    std::string detail = result.detail != nullptr ? result.detail : "";
    switch (result.damage) {
        case XmlDamage::None:
            return std::string();
        case XmlDamage::NulByte:
            return "NUL byte";
        case XmlDamage::Utf16:
            return "UTF-16 byte-order mark (the file is not in an 8-bit encoding)";
        case XmlDamage::UnclosedElement:
            return "element <" + quoted(result.first) + "> is not closed at the end of the file";
        case XmlDamage::MismatchedEndTag:
            return "closing tag </" + quoted(result.first) + "> does not match <" + quoted(result.second) + ">";
        case XmlDamage::StrayEndTag:
            return "closing tag </" + quoted(result.first) + "> without an open element";
        case XmlDamage::BrokenAttribute:
            return "attribute " + quoted(result.first) + " " + detail;
        case XmlDamage::CutOff:
            return "the file ends inside " + detail;
        case XmlDamage::BadMarkup:
            return "unreadable markup in " + detail;
        case XmlDamage::StrayText:
            return "text outside an element, or where it would be lost";
        case XmlDamage::AfterRoot:
            return "content after the root element";
        case XmlDamage::NoRoot:
            return "no root element";
        case XmlDamage::NotRead:
            return "content after the document type declaration was not read";
    }
    return std::string();
}

}  // namespace vantrel
