package com.vesk.orvanex;

import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.ZoneOffset;
import java.time.ZonedDateTime;
import java.util.Locale;

/** The library's entry object; also converts times in Java's time zones for the native side. */
public class OrvanexImpl {
    /** A broken-down time as the C library's struct tm has it (year since 1900, month 0 to 11, Sunday 0). */
    public static class TimeHelper {
        public int hour;
        public int min;
        public int sec;
        public int year;
        public int mon;
        public int day;
        public int dow;
        /** Offset from UTC in minutes, east positive. */
        public int ofs;
        /** The zone's abbreviation at that time. */
        public String wall;

        public TimeHelper() {}
    }

    public OrvanexImpl() {}

    private static ZoneId zone(String name) {
        if (name == null || name.isEmpty()) return ZoneId.systemDefault();
        try {
            return ZoneId.of(name, ZoneId.SHORT_IDS);
        } catch (RuntimeException e) {
            return ZoneId.systemDefault();
        }
    }

    /** The broken-down form of `ms` in the zone (or in UTC when `utc`). */
    public TimeHelper buildTm(boolean utc, String zoneName, long ms) {
        ZoneId z = utc ? ZoneOffset.UTC : zone(zoneName);
        ZonedDateTime t = ZonedDateTime.ofInstant(Instant.ofEpochMilli(ms), z);
        TimeHelper h = new TimeHelper();
        h.hour = t.getHour();
        h.min = t.getMinute();
        h.sec = t.getSecond();
        h.year = t.getYear() - 1900;
        h.mon = t.getMonthValue() - 1;
        h.day = t.getDayOfMonth();
        h.dow = t.getDayOfWeek().getValue() % 7;
        h.ofs = t.getOffset().getTotalSeconds() / 60;
        h.wall = utc ? "UTC" : z.getRules().isDaylightSavings(t.toInstant())
                ? java.util.TimeZone.getTimeZone(z).getDisplayName(true, java.util.TimeZone.SHORT, Locale.ROOT)
                : java.util.TimeZone.getTimeZone(z).getDisplayName(false, java.util.TimeZone.SHORT, Locale.ROOT);
        return h;
    }

    /** Seconds since the epoch of the broken-down time `h` read in the zone. */
    public long buildTime(String zoneName, TimeHelper h) {
        LocalDateTime local = LocalDateTime.of(h.year + 1900, 1, 1, 0, 0, 0)
                .plusMonths(h.mon).plusDays(h.day - 1L).plusHours(h.hour).plusMinutes(h.min).plusSeconds(h.sec);
        return ZonedDateTime.of(local, zone(zoneName)).toEpochSecond();
    }
}
