#include "record/XmlPacketParser.h"

#include <cstring>

namespace qm45 {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The characters XML 1.0 allows.
bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void appendCodePoint(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(char16_t(c));
    } else {
        out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
}

// One UTF-8 sequence starting at p; advances p. Rejects overlong forms,
// surrogates and anything past U+10FFFF.
bool decodeUtf8(const unsigned char*& p, const unsigned char* end, char32_t& c) {
    const unsigned char lead = *p;
    int more;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        min = 0x80;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        min = 0x800;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        min = 0x10000;
        c = lead & 0x07;
    } else {
        return false;
    }
    if (end - p <= more)
        return false;
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    p += more + 1;
    return true;
}

bool resolveReference(QByteArrayView name, char32_t& c) {
    if (name == "amp")
        c = '&';
    else if (name == "lt")
        c = '<';
    else if (name == "gt")
        c = '>';
    else if (name == "quot")
        c = '"';
    else if (name == "apos")
        c = '\'';
    else if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const qsizetype first = hex ? 2 : 1;
        if (first == name.size())
            return false;
        c = 0;
        for (qsizetype i = first; i < name.size(); ++i) {
            const char d = name[i];
            int v;
            if (d >= '0' && d <= '9')
                v = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                v = d - 'A' + 10;
            else
                return false;
            c = c * (hex ? 16 : 10) + char32_t(v);
            if (c > 0x10FFFF)
                return false;
        }
        return isXmlChar(c);
    } else {
        return false;
    }
    return true;
}

} // namespace

bool XmlPacketParser::fail() {
    failed_ = true;
    return false;
}

bool XmlPacketParser::feed(QByteArrayView bytes) {
    if (failed_)
        return false;
    buffer_.remove(0, pos_);
    pos_ = 0;
    buffer_.append(bytes);
    if (!started_) {
        static constexpr char kBom[] = "\xEF\xBB\xBF";
        const qsizetype have = std::min<qsizetype>(buffer_.size(), 3);
        if (std::memcmp(buffer_.constData(), kBom, std::size_t(have)) == 0) {
            if (have < 3)
                return true;
            pos_ = 3;
        }
        started_ = true;
    }
    for (;;) {
        const Step s = step();
        if (s == Step::Bad)
            return fail();
        if (s == Step::NeedMore)
            break;
    }
    if (buffer_.size() - pos_ > kMaxToken)
        return fail();
    return true;
}

bool XmlPacketParser::finish() {
    if (failed_)
        return false;
    if (pos_ != buffer_.size())
        return fail();
    return rootClosed_;
}

XmlPacketParser::Step XmlPacketParser::step() {
    if (pos_ == buffer_.size())
        return Step::NeedMore;
    if (buffer_[pos_] == '<')
        return markup(pos_);
    qsizetype end = buffer_.indexOf('<', pos_);
    if (end < 0)
        end = buffer_.size();
    if (openStarts_.empty()) {
        for (qsizetype i = pos_; i < end; ++i)
            if (!isBlank(buffer_[i]))
                return Step::Bad;
    }
    pos_ = end;
    return Step::Done;
}

XmlPacketParser::Step XmlPacketParser::skipUntil(qsizetype from, const char* terminator) {
    const qsizetype end = buffer_.indexOf(terminator, from);
    if (end < 0)
        return Step::NeedMore;
    pos_ = end + qsizetype(std::strlen(terminator));
    return Step::Done;
}

XmlPacketParser::Step XmlPacketParser::markup(qsizetype at) {
    const QByteArrayView rest = QByteArrayView(buffer_).sliced(at);
    const auto startsWith = [&](const char* prefix) {
        const QByteArrayView p(prefix);
        return rest.size() >= p.size() ? rest.first(p.size()) == p : false;
    };
    const auto mayStartWith = [&](const char* prefix) {
        const QByteArrayView p(prefix);
        return rest.size() < p.size() && p.first(rest.size()) == rest;
    };
    if (rest.size() < 2)
        return Step::NeedMore;
    if (rest[1] == '?') {
        const qsizetype end = buffer_.indexOf("?>", at + 2);
        if (end < 0)
            return Step::NeedMore;
        const QByteArrayView text = QByteArrayView(buffer_).sliced(at + 2, end - at - 2);
        if (text.startsWith("xml") && (text.size() == 3 || isBlank(text[3])) && !declaration(text))
            return Step::Bad;
        pos_ = end + 2;
        return Step::Done;
    }
    if (rest[1] == '!') {
        if (mayStartWith("<!--") || mayStartWith("<![CDATA["))
            return Step::NeedMore;
        if (startsWith("<!--"))
            return skipUntil(at + 4, "-->");
        if (startsWith("<![CDATA[") && !openStarts_.empty())
            return skipUntil(at + 9, "]]>");
        // A DOCTYPE, with whatever entities it might declare.
        return Step::Bad;
    }
    // A tag ends at the first '>' outside a quoted attribute value.
    char quote = 0;
    for (qsizetype i = 1; i < rest.size(); ++i) {
        const char c = rest[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '<') {
            return Step::Bad;
        } else if (c == '>') {
            const QByteArrayView tag = rest.sliced(1, i - 1);
            pos_ = at + i + 1;
            const bool ok = tag.startsWith('/') ? endTag(tag.sliced(1)) : startTag(tag);
            return ok ? Step::Done : Step::Bad;
        }
    }
    return Step::NeedMore;
}

bool XmlPacketParser::declaration(QByteArrayView text) {
    // Only the encoding matters: the packet is read as UTF-8.
    const qsizetype at = text.indexOf("encoding");
    if (at < 0)
        return true;
    qsizetype i = at + 8;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size() || text[i] != '=')
        return false;
    ++i;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size() || (text[i] != '"' && text[i] != '\''))
        return false;
    const qsizetype close = text.indexOf(text[i], i + 1);
    if (close < 0)
        return false;
    const QByteArray name = text.sliced(i + 1, close - i - 1).toByteArray().toLower();
    return name == "utf-8" || name == "utf8" || name == "us-ascii";
}

bool XmlPacketParser::startTag(QByteArrayView tag) {
    if (rootClosed_)
        return false;
    const bool selfClosing = tag.endsWith('/');
    if (selfClosing)
        tag.chop(1);
    if (tag.isEmpty() || !isNameStart(static_cast<unsigned char>(tag[0])))
        return false;
    qsizetype i = 1;
    while (i < tag.size() && isNameChar(static_cast<unsigned char>(tag[i])))
        ++i;
    const QByteArrayView name = tag.first(i);

    values_.clear();
    valueSpans_.clear();
    attributes_.clear();
    for (;;) {
        const qsizetype beforeBlanks = i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size())
            break;
        if (i == beforeBlanks || !isNameStart(static_cast<unsigned char>(tag[i])))
            return false;
        const qsizetype nameStart = i;
        while (i < tag.size() && isNameChar(static_cast<unsigned char>(tag[i])))
            ++i;
        const QByteArrayView attributeName = tag.sliced(nameStart, i - nameStart);
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || tag[i] != '=')
            return false;
        ++i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || (tag[i] != '"' && tag[i] != '\''))
            return false;
        const qsizetype close = tag.indexOf(tag[i], i + 1);
        if (close < 0)
            return false;
        for (const Attribute& earlier : attributes_)
            if (earlier.name == attributeName)
                return false;
        const qsizetype valueStart = qsizetype(values_.size());
        if (!attributeValue(tag.sliced(i + 1, close - i - 1)))
            return false;
        valueSpans_.emplace_back(valueStart, qsizetype(values_.size()) - valueStart);
        attributes_.push_back({attributeName, {}});
        i = close + 1;
    }
    // The values are in place now; views into them stay valid until the next tag.
    for (std::size_t k = 0; k < attributes_.size(); ++k)
        attributes_[k].value =
            QStringView(values_.data() + valueSpans_[k].first, valueSpans_[k].second);

    if (openStarts_.empty() && rootSeen_)
        return false;
    rootSeen_ = true;
    if (!handler_.startElement(name, attributes_))
        return false;
    if (selfClosing) {
        if (!handler_.endElement())
            return false;
        rootClosed_ = openStarts_.empty();
        return true;
    }
    if (openStarts_.size() == kMaxDepth)
        return false;
    openStarts_.push_back(qsizetype(openNames_.size()));
    openNames_.append(name.data(), std::size_t(name.size()));
    return true;
}

bool XmlPacketParser::endTag(QByteArrayView tag) {
    while (!tag.isEmpty() && isBlank(tag.back()))
        tag.chop(1);
    if (openStarts_.empty())
        return false;
    const qsizetype start = openStarts_.back();
    const QByteArrayView open(openNames_.data() + start, qsizetype(openNames_.size()) - start);
    if (tag != open)
        return false;
    openNames_.resize(std::size_t(start));
    openStarts_.pop_back();
    rootClosed_ = openStarts_.empty();
    return handler_.endElement();
}

bool XmlPacketParser::attributeValue(QByteArrayView raw) {
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const auto* const end = p + raw.size();
    while (p != end) {
        const unsigned char b = *p;
        if (b >= 0x80) {
            char32_t c;
            if (!decodeUtf8(p, end, c) || !isXmlChar(c))
                return false;
            appendCodePoint(values_, c);
            continue;
        }
        ++p;
        if (b == '&') {
            const auto* semicolon =
                static_cast<const unsigned char*>(std::memchr(p, ';', std::size_t(end - p)));
            char32_t c;
            if (!semicolon ||
                !resolveReference(QByteArrayView(reinterpret_cast<const char*>(p), semicolon - p),
                                  c))
                return false;
            appendCodePoint(values_, c);
            p = semicolon + 1;
        } else if (b == '<') {
            return false;
        } else if (b == '\r') {
            // A line end counts once, CR LF included, and reads as a blank.
            if (p != end && *p == '\n')
                ++p;
            values_.push_back(u' ');
        } else if (b == '\n' || b == '\t') {
            values_.push_back(u' ');
        } else if (b < 0x20) {
            return false;
        } else {
            values_.push_back(char16_t(b));
        }
    }
    return true;
}

} // namespace qm45
