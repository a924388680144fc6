#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstdint>
#include <string>
#include <vector>

namespace qm45 {

// Reads the XML of a data packet as it streams in and reports its elements.
//
// It takes the part of XML 1.0 a packet needs and refuses the rest rather
// than guess: UTF-8 only (a byte order mark is fine), elements with
// attributes, text, comments, processing instructions and CDATA sections
// (these three and text are passed over), the five predefined entities and
// character references. A DOCTYPE, any other entity, malformed UTF-8, a
// character XML does not allow, mismatched or unclosed tags and anything but
// blanks, comments and processing instructions outside the root element make
// the document bad. With no DTD there is nothing to expand: a small file can
// never turn into a large one.
//
// Memory stays bounded whatever the input: a single markup token (a tag, a
// comment) longer than kMaxToken makes the document bad, and nesting deeper
// than kMaxDepth too.
class XmlPacketParser {
public:
    static constexpr qsizetype kMaxToken = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxDepth = 256;

    struct Attribute {
        QByteArrayView name;
        QStringView value; // references resolved, blanks normalised as XML does
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        // The views are valid only during the call. False stops the parse.
        [[nodiscard]] virtual bool startElement(QByteArrayView name,
                                                const std::vector<Attribute>& attributes) = 0;
        [[nodiscard]] virtual bool endElement() = 0;
    };

    explicit XmlPacketParser(Handler& handler) : handler_(handler) {}

    // False once the document is bad or the handler stopped it.
    [[nodiscard]] bool feed(QByteArrayView bytes);
    // The end of the input: true when the root element was complete.
    [[nodiscard]] bool finish();

private:
    enum class Step { Done, NeedMore, Bad };

    Step step();
    Step markup(qsizetype at);
    Step skipUntil(qsizetype from, const char* terminator);
    bool declaration(QByteArrayView text);
    bool startTag(QByteArrayView tag);
    bool endTag(QByteArrayView tag);
    bool attributeValue(QByteArrayView raw);
    bool fail();

    Handler& handler_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool started_ = false;
    bool rootSeen_ = false;
    bool rootClosed_ = false;
    bool failed_ = false;
    std::string openNames_;             // the names of the open elements, one after the other
    std::vector<qsizetype> openStarts_; // where each begins in openNames_
    std::u16string values_;             // the attribute values of the current tag
    std::vector<std::pair<qsizetype, qsizetype>> valueSpans_;
    std::vector<Attribute> attributes_;
};

} // namespace qm45
