#pragma once

// Drives the scripted stand-in for the REX decoder library from a test. The test keeps its own
// handle on it, so its observations and hook survive the decoder's load and unload per job.

#include "rex/loadable/scripted_rex.h"

#include "platform/loader/dynamic_library.h"
#include "support/test_support.h"

#include <QString>

#include <functional>

namespace tampod::test {

inline const QString scriptedREXPath = QStringLiteral(SCRIPTED_REX_LIBRARY);
inline const QString scriptedREXWithoutRenderPath = QStringLiteral(SCRIPTED_REX_PARTIAL_LIBRARY);

class ScriptedREX {
public:
    using Hook = std::function<void(const QString &call, int batch)>;

    ScriptedREX() : library_(scriptedREXPath) { reset(); }
    ~ScriptedREX() { reset(); }

    void reset()
    {
        library_.function<decltype(&scriptedREXReset)>("scriptedREXReset")();
        hook_ = {};
    }
    const scripted_rex::Observation &observed() const
    {
        return *library_.function<decltype(&scriptedREXObservation)>("scriptedREXObservation")();
    }
    QString calls() const { return QString::fromLatin1(observed().calls); }
    void setInitializeResult(int result)
    {
        library_.function<decltype(&scriptedREXSetInitializeResult)>("scriptedREXSetInitializeResult")(result);
    }
    // Runs on the decoder's worker at the start of every entry point.
    void setHook(Hook hook)
    {
        hook_ = std::move(hook);
        library_.function<decltype(&scriptedREXSetHook)>("scriptedREXSetHook")(
            [](const char *call, int batch, void *self) {
                static_cast<ScriptedREX *>(self)->hook_(QString::fromLatin1(call), batch);
            },
            this);
    }

    static QString write(const QString &path, const scripted_rex::Script &script, std::size_t padding = 0)
    {
        const std::string bytes = scripted_rex::bytes(script, padding);
        writeFile(path, QByteArray(bytes.data(), qsizetype(bytes.size())));
        return path;
    }

private:
    DynamicLibrary library_;
    Hook hook_;
};

} // namespace tampod::test
