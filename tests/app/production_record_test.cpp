#include <gtest/gtest.h>

#include "app/production_record.h"

using namespace kestrum;

// Times in UTC across the calendar's corners, and what was not known written as null.
TEST(ProductionRecord, UtcTimesAndUnknownFields)
{
    using namespace std::chrono;
    EXPECT_EQ(UtcTimeText(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcTimeText(system_clock::time_point{milliseconds{951782400123}}), "2000-02-29T00:00:00.123Z");
    EXPECT_EQ(UtcTimeText(system_clock::time_point{milliseconds{4102444799999}}), "2099-12-31T23:59:59.999Z");

    ProductionRecord record;
    record.program = "kestrum-cli 1.0.07";
    record.port = "/dev/ttyUSB0";
    record.before = DeviceInfo{"GX", "", "3.1", "B", "", "text"};
    record.images = {{"a \"b\".ldr", 20, "00"}};
    record.result = ProductionRecord::Result::Skipped;
    record.text = "Already current";
    EXPECT_EQ(ProductionRecordLine(record),
              "{\"time\": \"1970-01-01T00:00:00.000Z\", \"station\": null, \"program\": \"kestrum-cli 1.0.07\", "
              "\"port\": \"/dev/ttyUSB0\", \"adapter\": null, \"kind\": \"Receiver\", \"before\": {\"model\": \"GX\", "
              "\"identifier\": null, \"firmware\": \"3.1\", \"hardware\": \"B\"}, \"after\": null, \"images\": "
              "[{\"path\": \"a \\\"b\\\".ldr\", \"size\": 20, \"sha256\": \"00\"}], \"result\": \"skipped\", "
              "\"code\": 0, \"text\": \"Already current\", \"seconds\": 0.00}\n");
}
