"""Reads an iCalendar file with the icalendar library and prints one line per event:
UID|start|end|summary|description|alarm triggers in days, comma-separated."""
import sys

import icalendar

with open(sys.argv[1], "rb") as f:
    cal = icalendar.Calendar.from_ical(f.read())
print("calendar", cal["VERSION"], cal["PRODID"])
for event in cal.walk("VEVENT"):
    trigger = ",".join(str(alarm["TRIGGER"].dt.days) for alarm in event.walk("VALARM"))
    print("|".join(str(x) for x in (event["UID"], event.decoded("DTSTART"), event.decoded("DTEND"),
                                     event["SUMMARY"], event["DESCRIPTION"].replace("\n", "/"), trigger)))
