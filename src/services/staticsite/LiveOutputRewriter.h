#pragma once

#include "LocalOriginRewriter.h"
#include "OutputFolderRewriter.h"

#include <QString>

#include <memory>
#include <string>

namespace halvik {

// Rewrites a generated output folder while its generator is still writing it, so that little is
// left to do once the generator exits. A file is taken when its writer closes it, under a write
// lease: nobody else has it open while it is rewritten, and a writer that opens it again waits
// the microseconds until that is done; its next close brings the file back. What it cannot
// vouch for (lost events, a folder moved away, a link) makes the end a full pass, so the result
// is never less complete than rewriting after the generator. Linux only.
class LiveOutputRewriter
{
public:
    // Starts following `folder`, which must exist, on a thread of its own. Null where the system
    // cannot follow a writer's closes: rewrite after the writer then.
    static std::unique_ptr<LiveOutputRewriter> follow(const QString& folder, LocalOriginRewriter rewriter,
                                                      std::string skippedName);
    // Stops following; what was rewritten stays rewritten.
    ~LiveOutputRewriter();
    LiveOutputRewriter(const LiveOutputRewriter&) = delete;
    LiveOutputRewriter& operator=(const LiveOutputRewriter&) = delete;

    // Once the writer has exited: rewrites what is left and returns the totals for the whole
    // folder, as OutputFolderRewriter::run would have. Blocks. Throws HalvikError as run does.
    OutputFolderRewriter::Result finish();
    // Whether finish() had to go over the whole folder again (for tests and logs).
    bool madeFullPass() const;

    struct State;

private:
    explicit LiveOutputRewriter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace halvik
