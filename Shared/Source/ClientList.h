#pragma once

// The object list the server sends for "GetClients":
//
//   HomeObjectId                       int32
//   then, repeated to the end:
//     object id                        int32
//     type name                        string (4-byte length, code-page bytes)
//     record length                    int32, the bytes of the record that follows
//     record                           one object record (TCustomSysObject::WriteToProtocol)
//
// Readers create one object per entry whose type they know and skip the others by length, so
// the list stays readable when the server knows more types than the reader.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "BaseProtocol.h"
#include "CoreCommon.h"

// Makes an empty object for a type name, or returns null when the reader has no class for it.
// The object must accept SetId before its first load (CreateReceived, or a registry class that
// sets Loading itself).
using TSysObjectFactory = std::function<std::unique_ptr<TCustomSysObject>(const std::string&)>;

// Receives each loaded object, with ownership. Panels and partitions free members when they
// are freed (also the failing object of a broken list), so the sink must let go of an object
// that announces its destruction (code 2); a TSysObjectList does.
using TSysObjectSink = std::function<void(std::unique_ptr<TCustomSysObject>)>;

// The model classes by their exact (case-sensitive) type names: "LightClient", "Panel",
// "Partition", "Zone" and "Service", created read-only and open for their first load. Other
// names, "Department" among them, give null.
std::unique_ptr<TCustomSysObject> CreateModelObject(const std::string& typeName);

// Reads the list from the cursor to the end of list: for every entry of a known type the
// object is created by factory, given its id, loaded from its record and handed to sink.
// Returns HomeObjectId.
//
// A record is read from a copy of its own bytes, so it cannot reach into the next entry. An
// error ends the reading at that entry: objects already handed over stay with the sink, the
// failing object is freed, and the error propagates (a record's codec error unchanged; an entry
// whose record length is negative or runs past the end of the list raises an Exception naming
// the entry).
int32_t ReadClientList(TBufferProtocol& list, const TSysObjectFactory& factory,
                       const TSysObjectSink& sink);

// Writers of the same layout, at the cursor.
void WriteClientListHeader(TBufferProtocol& list, int32_t homeObjectId);
// One entry carrying the object's own record, under its Id and its class's type name (the
// record's TypeName field may say otherwise; the entry decides the class).
void WriteClientListEntry(TBufferProtocol& list, TCustomSysObject& object);
// One entry of any type name with the given record bytes (for types the reader may not know).
void WriteClientListEntry(TBufferProtocol& list, int32_t id, const std::string& typeName,
                          const TBufferProtocol& record);
