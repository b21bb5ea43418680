#include "app/production_record.h"

#include <cstdio>

#include "app/json_text.h"
#include "app/port_details.h"
#include "platform/station_name.h"

namespace kestrum {

namespace {

const char* ResultName(ProductionRecord::Result result)
{
    switch (result) {
    case ProductionRecord::Result::Completed: return "completed";
    case ProductionRecord::Result::Skipped: return "skipped";
    case ProductionRecord::Result::Failed: return "failed";
    }
    return "failed";
}

std::string DeviceJson(const std::optional<DeviceInfo>& info)
{
    if (!info)
        return "null";
    return "{\"model\": " + JsonStringOrNull(info->model) + ", \"identifier\": " + JsonStringOrNull(info->id) +
           ", \"firmware\": " + JsonStringOrNull(info->firmware) +
           ", \"hardware\": " + JsonStringOrNull(info->hardware) + "}";
}

std::string ImagesJson(const std::vector<ImageDigest>& images)
{
    std::string json = "[";
    for (const ImageDigest& image : images) {
        json += json.size() > 1 ? ", " : "";
        json += "{\"path\": " + JsonString(image.path) + ", \"size\": " + std::to_string(image.size) +
                ", \"sha256\": " + JsonString(image.sha256) + "}";
    }
    return json + "]";
}

std::string AdapterJson(const ProductionRecord& record)
{
    if (record.adapterSerial.empty() && record.adapterById.empty())
        return "null";
    return "{\"serial\": " + JsonStringOrNull(record.adapterSerial) +
           ", \"byId\": " + JsonStringOrNull(record.adapterById) + "}";
}

// Days since 1970-01-01 to the civil date, for any day of the proleptic Gregorian calendar.
void CivilDate(long long days, long long& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const long long ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const long long msPerDay = 86400000;
    const long long days = ms >= 0 ? ms / msPerDay : (ms - msPerDay + 1) / msPerDay;
    const long long inDay = ms - days * msPerDay;
    long long year = 0;
    unsigned month = 0, day = 0;
    CivilDate(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                  inDay / 3600000, inDay / 60000 % 60, inDay / 1000 % 60, inDay % 1000);
    return text;
}

ProductionRecord BeginRecord(const std::string& program, const std::string& port, DeviceKind kind)
{
    ProductionRecord record;
    record.time = std::chrono::system_clock::now();
    record.station = StationName();
    record.program = program;
    record.port = port;
    record.kind = kind;
    const std::vector<PortDetails> details = DescribePorts({port});
    if (!details.empty()) {
        record.adapterSerial = details.front().serialNumber;
        record.adapterById = details.front().byIdPath;
    }
    return record;
}

std::string ProductionRecordLine(const ProductionRecord& record)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", record.seconds);
    return "{\"time\": " + JsonString(UtcTimeText(record.time)) + ", \"station\": " +
           JsonStringOrNull(record.station) + ", \"program\": " + JsonString(record.program) +
           ", \"port\": " + JsonString(record.port) + ", \"adapter\": " + AdapterJson(record) +
           ", \"kind\": " + JsonString(std::string(DeviceKindName(record.kind))) +
           ", \"before\": " + DeviceJson(record.before) + ", \"after\": " + DeviceJson(record.after) +
           ", \"images\": " + ImagesJson(record.images) + ", \"result\": " + JsonString(ResultName(record.result)) +
           ", \"code\": " + std::to_string(record.code) + ", \"text\": " + JsonString(record.text) +
           ", \"seconds\": " + seconds + "}\n";
}

}  // namespace kestrum
