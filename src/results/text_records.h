// The text export of one record: its labelled fields, each as LABEL:VALUE and two blanks,
// joined without separator, values as they are (line breaks included). A missing value
// prints as "(null)". A record that knows where it came from adds a line "Origin: " and its
// originText() (record_origin.h) after its fields.
#pragma once

#include <string>

#include "extract/item_records.h"

std::string contactRecordText(const MzContactNode& contact);
std::string noteRecordText(const MzNoteNode& note);
std::string callRecordText(const MzCallHistoryNode& call);
// The direction of a call with its kind when known: "Outgoing (FaceTime Video)", else the
// direction alone ("Incoming").
std::string callTypeText(const MzCallHistoryNode& call);
std::string bookMarkRecordText(const MzBookMarkNode& bookMark);
std::string calenderRecordText(const MzCalenderNode& event);
// The attendees of an event joined with ", "; empty when it has none.
std::string calenderAttendeesText(const MzCalenderNode& event);
