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

}  // namespace

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss inDay{floor<milliseconds>(time - day)};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(inDay.hours().count()), static_cast<long long>(inDay.minutes().count()),
                  static_cast<long long>(inDay.seconds().count()), static_cast<long long>(inDay.subseconds().count()));
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
