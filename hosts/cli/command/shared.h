// What the three commands share: messages, the input stream opened and its header
// read, and the filter loaded with the command line's settings checked.
#pragma once

#include <memory>
#include <string>

#include "cli/command/options.h"
#include "cli/io/y4m.h"
#include "cli/session/filter_module.h"

namespace q5cli {

/// One line on standard error, "quorvane5: text"; control characters (a newline or
/// an escape sequence in a file name) are shown escaped, never acted on.
void message(const std::string &text);
/// `text` with its control characters escaped ("\n", "\x1b").
std::string printable(const std::string &text);

/// "1 frame", "2 frames".
std::string count(long long n, const char *one, const char *many);

/// A stream opened and its header read. The steps below print their own message and
/// give the exit status, 0 to go on.
struct OpenStream {
    std::string name;  // for messages
    std::unique_ptr<ByteSource> source;
    std::unique_ptr<Y4mReader> reader;
    Y4mFormat format;
};
int openStream(const std::string &path, OpenStream *stream);

/// The filter module loaded and the given settings checked against its descriptor's
/// ranges, before any file is opened.
int loadFilter(const Options &options, LoadedFilter *filter);

}  // namespace q5cli
