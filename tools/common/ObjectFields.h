#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "CoreCommon.h"

// JSON views of the monitored objects for the tools: the simulator's site files set fields by
// these names and guardlink prints them. Names are the fields' own ("Name", "Online",
// "ArmStatus" ...); data fields travel in an object's data section, state fields in its state
// section.

// A writable object of a server type name, or null when the model has no class for it. Unlike
// the console, the simulator keeps departments too.
std::unique_ptr<TCustomSysObject> CreateSiteObject(const std::string& typeName);

// Sets each named field through its setter. Raises Exception naming the field for an unknown
// name or a value of the wrong type or range.
void ApplyFields(TCustomSysObject& object, const nlohmann::ordered_json& fields);

// The fields of an object's data section (the common carried fields first) and of its state
// section.
nlohmann::ordered_json DataFields(const TCustomSysObject& object);
nlohmann::ordered_json StateFields(const TCustomSysObject& object);

// The object's state section as the server sends it after a 207.
std::string StateSection(TCustomSysObject& object);
