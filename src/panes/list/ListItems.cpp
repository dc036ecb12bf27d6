#include "ListItems.h"

#include <ctime>

#include "VelmarApp.h"

namespace {
QString KeyNumber(std::uint64_t value) {
    return QString::number(value).rightJustified(kKeyNumberWidth, QLatin1Char('0'));
}

// Times before 1970 are negative; flipping the sign bit keeps their order in an
// unsigned field.
std::uint64_t TimeKeyValue(std::int64_t time) {
    return static_cast<std::uint64_t>(time) ^ (std::uint64_t{1} << 63);
}

QString TwoDigits(int value) {
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

QString DatePart(const std::tm& t) {
    return QStringLiteral("%1/%2/%3")
        .arg(t.tm_mon + 1)
        .arg(t.tm_mday)
        .arg(TwoDigits((t.tm_year % 100 + 100) % 100));
}

// The local midnight that begins the calendar day of a date-only entry.
std::int64_t SortTime(const DirEntry& entry) {
    if (!entry.dateOnly)
        return entry.lastWriteTime;
    const std::time_t t = static_cast<std::time_t>(entry.lastWriteTime);
    std::tm day{};
    if (!gmtime_r(&t, &day))
        return entry.lastWriteTime;
    day.tm_hour = day.tm_min = day.tm_sec = 0;
    day.tm_isdst = -1;
    const std::time_t local = std::mktime(&day);
    return local == static_cast<std::time_t>(-1) ? entry.lastWriteTime : std::int64_t(local);
}
} // namespace

ListSort CurrentListSort(const CVelmarApp& app) {
    if (app.m_sortByExtension)
        return ListSort::Extension;
    if (app.m_sortBySize)
        return ListSort::Size;
    if (app.m_sortByDate)
        return ListSort::Date;
    return ListSort::Name;
}

QString ListSortKey(const DirEntry& entry, ListSort sort) {
    QString key = entry.name;
    if (sort == ListSort::Extension) {
        const qsizetype dot = key.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || dot == key.size() - 1)
            key = QLatin1Char('.') + key;
        else
            key = key.mid(dot + 1) + QLatin1Char('.') + key.left(dot);
    } else if (sort == ListSort::Date) {
        key = KeyNumber(TimeKeyValue(SortTime(entry))) + key;
    } else if (sort == ListSort::Size) {
        key = KeyNumber(entry.size) + key;
    }
    return (entry.IsFolder() ? QLatin1Char('0') : QLatin1Char('1')) + key;
}

QString FormatListSize(std::uint64_t bytes) {
    const QString digits = QString::number(bytes);
    QString text;
    text.reserve(digits.size() + digits.size() / 3);
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += QLatin1Char(',');
        text += digits.at(i);
    }
    return text;
}

QString FormatListModified(std::int64_t time, bool dateOnly) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm parts{};
    if (dateOnly)
        return gmtime_r(&t, &parts) ? DatePart(parts) : QString();
    if (!localtime_r(&t, &parts))
        return QString();
    const int hour12 = parts.tm_hour % 12 == 0 ? 12 : parts.tm_hour % 12;
    return QStringLiteral("%1 %2:%3 %4")
        .arg(DatePart(parts))
        .arg(hour12)
        .arg(TwoDigits(parts.tm_min))
        .arg(parts.tm_hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString FormatListModified(const DirEntry& entry) {
    return FormatListModified(entry.lastWriteTime, entry.dateOnly);
}
