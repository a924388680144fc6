#include "record/DataFiles.h"

#include "record/DataFileProgress.h"
#include "record/TextDataFile.h"
#include "record/TextDataReader.h"
#include "record/XmlDataFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace qm45 {

DataFileFormat dataFileFormat(const QString& fileName) {
    const qsizetype separator = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const bool xml = dot > separator && QStringView(fileName).mid(dot) == QLatin1String(".xml");
    return xml ? DataFileFormat::Xml : DataFileFormat::Text;
}

DataFileSaveResult saveDataFile(const ReadingsTable::Snapshot& rows, const QString& fileName,
                                DataFileProgress* progress) {
    DataFileSaveResult result;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error =
            QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString());
        return result;
    }
    const bool written = dataFileFormat(fileName) == DataFileFormat::Xml
                             ? XmlDataFile::write(rows, file, progress)
                             : TextDataFile::write(rows, file, progress);
    if (!written && progress && progress->stopRequested()) {
        file.cancelWriting();
        result.outcome = DataFileSaveResult::Outcome::Stopped;
        return result;
    }
    // commit() flushes, syncs and renames; it refuses after any failed write.
    if (!written || !file.commit()) {
        result.error =
            QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, file.errorString());
        file.cancelWriting();
        return result;
    }
    result.outcome = DataFileSaveResult::Outcome::Saved;
    return result;
}

namespace {

bool readText(QFile& file, LoadedRows& rows, DataFileProgress* progress) {
    TextDataReader reader(rows);
    return readInBlocks(
        file, file.size(), progress, [&reader](QByteArrayView bytes) { return reader.feed(bytes); },
        [&reader] { return reader.finish(); });
}

} // namespace

DataFileLoadResult loadDataFile(const QString& fileName, DataFileProgress* progress) {
    DataFileLoadResult result;
    result.format = dataFileFormat(fileName);
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return result;
    const bool read = result.format == DataFileFormat::Xml
                          ? XmlDataFile::read(file, file.size(), result.rows, progress)
                          : readText(file, result.rows, progress);
    if (read)
        result.outcome = DataFileLoadResult::Outcome::Loaded;
    else if (progress && progress->stopRequested())
        result.outcome = DataFileLoadResult::Outcome::Stopped;
    if (result.format == DataFileFormat::Xml && !read)
        result.rows = LoadedRows();
    return result;
}

void applyLoadedRows(const DataFileLoadResult& result, ReadingsTable& table) {
    if (result.replacesTable())
        table.clear();
    if (result.keepsRows())
        result.rows.appendTo(table);
}

} // namespace qm45
