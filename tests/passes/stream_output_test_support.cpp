#include "tests/passes/stream_output_test_support.h"

#include <cstdio>
#include <cstring>

#include "platform/sys/bytes.h"

std::string ProbeVideo(const std::string &path)
{
    const std::string cmd = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '"
                            + path + "' 2>&1";
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) {
            out += buf;
        }
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
        out.pop_back();
    }
    return out;
}

OSErr CreateOutputMovie(const std::string &path, TimeScale timeScale, OutputMovie *out)
{
    if (path.size() > 255) {
        return paramErr;
    }
    out->name[0] = static_cast<unsigned char>(path.size());
    std::memcpy(out->name + 1, path.data(), path.size());
    FSSpec spec;
    FSMakeFSSpec(0, 0, out->name, &spec);
    const OSErr err = CreateMovieFile(&spec, lc::FourCC("TVOD"), smCurrentScript,
                                      createMovieFileDeleteCurFile, &out->ref, &out->movie);
    if (err == noErr) {
        SetMovieTimeScale(out->movie, timeScale);
    }
    return err;
}

OSErr FinishMovie(OutputMovie *m)
{
    const OSErr err = AddMovieResource(m->movie, m->ref, nullptr, m->name);
    CloseMovieFile(m->ref);
    DisposeMovie(m->movie);
    m->movie = nullptr;
    return err;
}
