// Settings streams for module tests: what a module saves, and a node made
// by hand for it to load.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "QelClasses.h"

// The stream Module writes into an empty settings file.
template <class T>
std::vector<uint8_t> SavedSettings(T& Module) {
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        Module.SaveSettings(writer);
    }
    return stream.TakeBytes();
}

// A settings stream with node 1 of Guid holding the 32-bit items given.
inline std::vector<uint8_t> SettingsNode(const TQelGuid& Guid,
                                         std::initializer_list<std::pair<uint32_t, int32_t>> Items) {
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        writer.BeginNode(1, Guid);
        for (const auto& [id, value] : Items) writer.WriteInteger(id, value);
        writer.EndNode();
    }
    return stream.TakeBytes();
}
