package com.vesk.orvanex.tests.jni;

import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.ZonedDateTime;

/** kel's time-zone hooks as the bridge installs them, against java.time. */
public final class TimeZoneTests {
    private TimeZoneTests() {}

    static String expected(String zone, long seconds) {
        ZonedDateTime t = ZonedDateTime.ofInstant(Instant.ofEpochSecond(seconds), ZoneId.of(zone));
        return String.format("%d %04d-%02d-%02d %02d:%02d:%02d %d %d", t.getOffset().getTotalSeconds() / 60,
                             t.getYear(), t.getMonthValue(), t.getDayOfMonth(), t.getHour(), t.getMinute(),
                             t.getSecond(), t.getDayOfWeek().getValue() % 7, t.getDayOfYear() - 1);
    }

    public static String run() {
        Check c = new Check();
        c.run("buildTm", () -> {
            String[] zones = {"Europe/Berlin", "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe", "UTC"};
            long[] instants = {0L, 1700000000L, 1711846800L, 1711846799L, 951782400L, -86400L * 365 * 30};
            for (String z : zones) {
                for (long s : instants) {
                    String got = NativeProbe.zoneTm(false, z, s);
                    c.ok(got != null, z + " " + s + " converted");
                    if (got == null) continue;
                    c.eq(expected(z, s), got.substring(got.indexOf(' ') + 1), z + " at " + s);
                }
            }
            String summer = NativeProbe.zoneTm(false, "Europe/Berlin", 1720000000L);
            c.ok(summer != null && summer.startsWith("CEST 120 "), "summer abbreviation and offset: " + summer);
            String utc = NativeProbe.zoneTm(true, "Europe/Berlin", 0L);
            c.eq("UTC 0 1970-01-01 00:00:00 4 0", utc, "utc ignores the zone");
        });
        c.run("buildTime", () -> {
            // 2024-03-31 02:30 does not exist in Berlin: read with the offset before the shift.
            Object[][] cases = {
                {"Europe/Berlin", 124, 0, 15, 12, 0, 0, LocalDateTime.of(2024, 1, 15, 12, 0)},
                {"America/New_York", 124, 6, 4, 9, 30, 15, LocalDateTime.of(2024, 7, 4, 9, 30, 15)},
                {"Europe/Berlin", 124, 1, 30, 0, 0, 0, LocalDateTime.of(2024, 3, 1, 0, 0)},
                {"Europe/Berlin", 124, 2, 31, 2, 30, 0, LocalDateTime.of(2024, 3, 31, 2, 30)},
                {"Europe/Berlin", 124, 9, 27, 2, 30, 0, LocalDateTime.of(2024, 10, 27, 2, 30)},
            };
            for (Object[] k : cases) {
                String z = (String) k[0];
                long want = ZonedDateTime.of((LocalDateTime) k[7], ZoneId.of(z)).toEpochSecond();
                long got = NativeProbe.zoneTime(z, (Integer) k[1], (Integer) k[2], (Integer) k[3], (Integer) k[4],
                                                (Integer) k[5], (Integer) k[6]);
                c.eq(want, got, z + " " + k[7]);
            }
        });
        return c.report();
    }
}
