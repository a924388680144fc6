#pragma once

#include "link/SerialPlatform.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace qm45::test {

// Records every platform call as one line of text and replays scripted reads.
// The log and the script live in a State the test keeps, since the driver owns
// the platform object.
class FakeSerialPlatform final : public SerialPlatform {
public:
    struct ScriptedRead {
        std::int32_t result; // bytes.size(), 0, ReadFailed or PortGone
        QByteArray bytes;
    };
    struct State {
        Handle openResult = 7;
        SerialOpenFailure openFailure; // given with an invalid openResult
        QStringList calls;
        std::optional<SerialLineSettings> lastSettings;
        std::optional<SerialTimeouts> lastTimeouts;
        QList<ScriptedRead> reads; // consumed front first; empty: reads return 0
        QList<std::int32_t> readCapacities;
    };

    explicit FakeSerialPlatform(State& state) : s_(state) {}

    [[nodiscard]] OpenResult openExclusive(const QString& device) override {
        s_.calls << QStringLiteral("open %1").arg(device);
        OpenResult result;
        result.handle = s_.openResult;
        if (result.handle == InvalidHandle)
            result.failure = s_.openFailure;
        return result;
    }
    void setLineState(Handle handle, const SerialLineSettings& settings) override {
        s_.calls << QStringLiteral("line %1").arg(handle);
        s_.lastSettings = settings;
    }
    void purge(Handle handle, bool input, bool output) override {
        s_.calls << QStringLiteral("purge %1 in=%2 out=%3")
                        .arg(handle)
                        .arg(QLatin1String(input ? "true" : "false"),
                             QLatin1String(output ? "true" : "false"));
    }
    void setQueueSizes(Handle handle, std::uint32_t inputSize, std::uint32_t outputSize) override {
        s_.calls << QStringLiteral("queues %1 %2 %3").arg(handle).arg(inputSize).arg(outputSize);
    }
    void setTimeouts(Handle handle, const SerialTimeouts& timeouts) override {
        s_.calls << QStringLiteral("timeouts %1").arg(handle);
        s_.lastTimeouts = timeouts;
    }
    [[nodiscard]] std::int32_t read(Handle, std::uint8_t* buffer, std::int32_t capacity) override {
        s_.readCapacities << capacity;
        if (s_.reads.isEmpty())
            return 0;
        const ScriptedRead next = s_.reads.takeFirst();
        const qsizetype fits = std::min<qsizetype>(next.bytes.size(), capacity);
        std::copy_n(next.bytes.cbegin(), fits, buffer);
        return next.result;
    }
    void close(Handle handle) override { s_.calls << QStringLiteral("close %1").arg(handle); }

private:
    State& s_;
};

} // namespace qm45::test
