#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Writes text to a temporary file beside path and renames it over path once every byte is on
// disk: a full disk or a crash leaves the previous file as it was. Nothing on success, otherwise
// "Cannot write <path>: <reason>". A symbolic link is written through: its target gets the text,
// with the mode it had.
std::optional<std::string> WriteWholeFile(const std::string& path, const std::string& text);

// Reads the whole file into text, up to its end (a pipe too) but refusing more than maxBytes rather
// than reading a device. Nothing on success, otherwise "Cannot open <path>: <reason>", "Cannot read
// <path>: <reason>" or "Cannot read <path>: over <N> KiB, not <kind>".
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string_view kind,
                                         std::string& text);
// Puts on disk the folder that holds path, so that a file just made or renamed there survives a
// power loss. False with errno set when it could not.
bool SyncFolder(const std::string& path);
