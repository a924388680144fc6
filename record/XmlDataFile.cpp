#include "record/XmlDataFile.h"

#include "record/DataFileProgress.h"
#include "record/DecimalInteger.h"
#include "record/LoadedRows.h"
#include "record/OutputBuffer.h"
#include "record/XmlPacketParser.h"

#include <QIODevice>

#include <array>
#include <vector>

namespace qm45 {

namespace {

constexpr Field kAllFields[kFieldCount] = {Field::no,   Field::time,  Field::dcac, Field::value,
                                           Field::unit, Field::judge, Field::nval};

bool isInteger(Field f) {
    return f == Field::no || f == Field::nval;
}

// Letters, and after the first character digits, '-' and '.', stand for
// themselves; '_' too unless an 'x' follows, which would read as an escape.
QString xmlName(const QString& name) {
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool later = i > 0 && ((c >= '0' && c <= '9') || c == '-' || c == '.');
        const bool underscore =
            c == '_' && !(i + 1 < name.size() && name[i + 1] == QLatin1Char('x'));
        if (letter || later || underscore)
            out += QChar(c);
        else
            out += QStringLiteral("_x") +
                   QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0')) +
                   QLatin1Char('_');
    }
    return out;
}

const std::array<QString, kFieldCount>& attributeNames() {
    static const std::array<QString, kFieldCount> names = [] {
        std::array<QString, kFieldCount> n;
        for (const Field f : kAllFields)
            n[std::size_t(f)] = xmlName(ReadingsTable::fieldName(f));
        return n;
    }();
    return names;
}

// The attribute of a text XML cannot carry, beside its plain name.
constexpr char kUtf16Suffix[] = ".utf16";

// The characters of XML 1.0: tab, line feed, carriage return, U+0020 and up,
// without unpaired surrogates and the two non-characters U+FFFE and U+FFFF.
bool xmlCanCarry(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20) {
            if (c != '\t' && c != '\n' && c != '\r')
                return false;
        } else if (QChar::isHighSurrogate(c)) {
            if (i + 1 == text.size() || !QChar::isLowSurrogate(text[i + 1].unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
    }
    return true;
}

void appendUtf8CodePoint(OutputBuffer& out, char32_t cp) {
    if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
    }
    out.append(char(0x80 | (cp & 0x3F)));
}

// Tab, line feed and carriage return as references: a reader turns them into
// blanks when they stand in an attribute value as they are.
void appendAttributeValue(OutputBuffer& out, QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append("&quot;");
            break;
        case '\t':
            out.append("&#9;");
            break;
        case '\n':
            out.append("&#10;");
            break;
        case '\r':
            out.append("&#13;");
            break;
        default:
            if (c < 0x80) {
                out.append(char(c));
            } else if (QChar::isHighSurrogate(c)) {
                appendUtf8CodePoint(out, QChar::surrogateToUcs4(c, text[++i].unicode()));
            } else {
                appendUtf8CodePoint(out, c);
            }
        }
    }
}

void appendHexCodeUnits(OutputBuffer& out, QStringView text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        for (int shift = 12; shift >= 0; shift -= 4)
            out.append(kDigits[(u >> shift) & 0xF]);
    }
}

bool parseHexCodeUnits(QStringView hex, QString& text) {
    if (hex.size() % 4 != 0)
        return false;
    text.resize(hex.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t unit = 0;
        for (qsizetype k = 0; k < 4; ++k) {
            const char16_t d = hex[i * 4 + k].unicode();
            int value;
            if (d >= '0' && d <= '9')
                value = d - '0';
            else if (d >= 'A' && d <= 'F')
                value = d - 'A' + 10;
            else if (d >= 'a' && d <= 'f')
                value = d - 'a' + 10;
            else
                return false;
            unit = char16_t(unit << 4 | value);
        }
        text[i] = QChar(unit);
    }
    return true;
}

QStringView valueOf(const std::vector<XmlPacketParser::Attribute>& attributes,
                    QByteArrayView name) {
    for (const XmlPacketParser::Attribute& a : attributes)
        if (a.name == name)
            return a.value;
    return {};
}

// Follows the elements of a packet and collects its rows. Elements it does
// not know are passed over with whatever they hold.
class PacketReader final : public XmlPacketParser::Handler {
public:
    explicit PacketReader(LoadedRows& rows) : rows_(rows) {}

    [[nodiscard]] bool complete() const { return complete_; }

    bool startElement(QByteArrayView name,
                      const std::vector<XmlPacketParser::Attribute>& attributes) override {
        if (scopes_.empty()) {
            if (name != "DATAPACKET")
                return false;
            scopes_.push_back(Scope::Packet);
            return true;
        }
        Scope next = Scope::Other;
        switch (scopes_.back()) {
        case Scope::Packet:
            if (name == "METADATA") {
                if (metadataSeen_)
                    return false;
                metadataSeen_ = true;
                next = Scope::Metadata;
            } else if (name == "ROWDATA") {
                if (!fieldsComplete_ || rowDataSeen_)
                    return false;
                next = Scope::RowData;
            }
            break;
        case Scope::Metadata:
            if (name == "FIELDS")
                next = Scope::Fields;
            break;
        case Scope::Fields:
            if (name == "FIELD" && !readField(attributes))
                return false;
            break;
        case Scope::RowData:
            if (name == "ROW" && !readRow(attributes))
                return false;
            break;
        case Scope::Other:
            break;
        }
        scopes_.push_back(next);
        return true;
    }

    bool endElement() override {
        const Scope closed = scopes_.back();
        scopes_.pop_back();
        if (closed == Scope::Metadata) {
            for (const QByteArray& name : names_)
                if (name.isEmpty())
                    return false;
            fieldsComplete_ = true;
        } else if (closed == Scope::RowData) {
            rowDataSeen_ = true;
        } else if (closed == Scope::Packet) {
            complete_ = rowDataSeen_;
            return complete_;
        }
        return true;
    }

private:
    enum class Scope { Packet, Metadata, Fields, RowData, Other };

    bool readField(const std::vector<XmlPacketParser::Attribute>& attributes) {
        const QStringView name = valueOf(attributes, "attrname");
        const QStringView type = valueOf(attributes, "fieldtype");
        for (const Field f : kAllFields) {
            if (name.compare(attributeNames()[std::size_t(f)], Qt::CaseInsensitive) != 0)
                continue;
            QByteArray& declared = names_[std::size_t(f)];
            if (!declared.isEmpty())
                return false;
            const bool typeFits = isInteger(f) ? type == QLatin1String("i4")
                                               : (type == QLatin1String("string") ||
                                                  type == QLatin1String("string.uni"));
            if (!typeFits)
                return false;
            declared = name.toUtf8();
            hexNames_[std::size_t(f)] = declared + kUtf16Suffix;
            return true;
        }
        return true;
    }

    bool readRow(const std::vector<XmlPacketParser::Attribute>& attributes) {
        LoadedRows::Row row;
        row.nullMask = std::uint8_t((1u << kFieldCount) - 1);
        for (const XmlPacketParser::Attribute& attribute : attributes) {
            for (const Field f : kAllFields) {
                const auto i = std::size_t(f);
                const bool plain = attribute.name == names_[i];
                if (!plain && (isInteger(f) || attribute.name != hexNames_[i]))
                    continue;
                if (isInteger(f)) {
                    if (!parseDecimalInteger(attribute.value, f == Field::no ? row.no : row.nval))
                        return false;
                } else if (plain) {
                    row.text[i - 1] = rows_.textId(int(i) - 1, attribute.value);
                } else {
                    if (!parseHexCodeUnits(attribute.value, hexText_))
                        return false;
                    row.text[i - 1] = rows_.textId(int(i) - 1, hexText_);
                }
                row.nullMask &= std::uint8_t(~(1u << i));
                break;
            }
        }
        return rows_.append(row);
    }

    LoadedRows& rows_;
    std::vector<Scope> scopes_;
    std::array<QByteArray, kFieldCount> names_;
    std::array<QByteArray, kFieldCount> hexNames_;
    QString hexText_;
    bool metadataSeen_ = false;
    bool fieldsComplete_ = false;
    bool rowDataSeen_ = false;
    bool complete_ = false;
};

} // namespace

bool XmlDataFile::write(const ReadingsTable::Snapshot& rows, QIODevice& out,
                        DataFileProgress* progress) {
    std::array<QByteArray, kFieldCount> names;
    for (const Field f : kAllFields)
        names[std::size_t(f)] = attributeNames()[std::size_t(f)].toLatin1();

    OutputBuffer buffer(out);
    buffer.append("<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET "
                  "Version=\"2.0\">\n<METADATA><FIELDS>\n");
    for (const Field f : kAllFields) {
        buffer.append("<FIELD attrname=\"");
        buffer.append(names[std::size_t(f)]);
        buffer.append(isInteger(f) ? "\" fieldtype=\"i4\"/>\n"
                                   : "\" fieldtype=\"string\" WIDTH=\"20\"/>\n");
    }
    buffer.append("</FIELDS></METADATA>\n<ROWDATA>\n");

    const std::int64_t count = rows.rowCount();
    for (std::int64_t r = 0; r < count; ++r) {
        buffer.append("<ROW");
        for (const Field f : kAllFields) {
            if (rows.isNull(r, f))
                continue;
            buffer.append(' ');
            buffer.append(names[std::size_t(f)]);
            if (isInteger(f)) {
                buffer.append("=\"");
                buffer.appendInteger(rows.integer(r, f));
            } else {
                const QString& text = rows.text(r, f);
                if (xmlCanCarry(text)) {
                    buffer.append("=\"");
                    appendAttributeValue(buffer, text);
                } else {
                    buffer.append(kUtf16Suffix);
                    buffer.append("=\"");
                    appendHexCodeUnits(buffer, text);
                }
            }
            buffer.append('"');
        }
        buffer.append("/>\n");
        if (!buffer.writeIfFull())
            return false;
        if (!continueAfterRow(progress, r, count))
            return false;
    }
    buffer.append("</ROWDATA>\n</DATAPACKET>\n");
    if (!buffer.write())
        return false;
    if (progress)
        progress->report(count, count);
    return true;
}

bool XmlDataFile::read(QIODevice& in, std::int64_t size, LoadedRows& rows,
                       DataFileProgress* progress) {
    PacketReader packet(rows);
    XmlPacketParser parser(packet);
    return readInBlocks(
        in, size, progress, [&parser](QByteArrayView bytes) { return parser.feed(bytes); },
        [&] { return parser.finish() && packet.complete(); });
}

} // namespace qm45
