#pragma once

#include "record/ReadingsTable.h"

#include <cstdint>

class QIODevice;

namespace qm45 {

class DataFileProgress;
class LoadedRows;

// The XML data packet: the whole table with all seven fields.
//
//   <?xml version="1.0" standalone="yes"?>
//   <DATAPACKET Version="2.0">
//   <METADATA><FIELDS>
//   <FIELD attrname="no" fieldtype="i4"/>
//   <FIELD attrname="time" fieldtype="string" WIDTH="20"/>
//   <FIELD attrname="dc_x002F_ac" fieldtype="string" WIDTH="20"/>
//   ...
//   </FIELDS></METADATA>
//   <ROWDATA>
//   <ROW no="12" time="10:41:07" dc_x002F_ac="DC" value="1.2345" unit="V" auto="pass"
//   nval="12345"/>
//   </ROWDATA>
//   </DATAPACKET>
//
// A ROW attribute is named by its FIELD's attrname: the field name with every
// character that may not stand in an XML name written _xHHHH_ ("dc/ac" gives
// dc_x002F_ac). A NULL field has no attribute. A text holding a character
// that XML 1.0 cannot carry at all (control characters other than tab, line
// feed and carriage return, unpaired surrogates) is written instead as
// attrname.utf16="..." with its UTF-16 code units in hexadecimal, so every
// table this program holds comes back exactly. The file is UTF-8, the
// encoding a declaration without an encoding attribute stands for.
class XmlDataFile {
public:
    // Any thread. False when a write failed or a stop was requested.
    [[nodiscard]] static bool write(const ReadingsTable::Snapshot& rows, QIODevice& out,
                                    DataFileProgress* progress = nullptr);

    // Any thread. All or nothing: false when the packet is not XML as
    // XmlPacketParser takes it (no DTD, no entities beyond the predefined
    // five, UTF-8), lacks METADATA, a field or ROWDATA,
    // holds a no or nval that is not a 32-bit integer, or has more rows than
    // a load takes; `rows` is then to be discarded. Unknown elements and
    // attributes are skipped. `size` is the file's size, for the progress.
    [[nodiscard]] static bool read(QIODevice& in, std::int64_t size, LoadedRows& rows,
                                   DataFileProgress* progress = nullptr);
};

} // namespace qm45
