#include "app/guide_pages.h"

const char *const kGuidePages[kGuidePageCount] = {
    // 0
    "Drop a Movie File into the Window. Or from the File menu, select File->Open. Kestra Halvorne "
    "opens Quicktime movies (.mov), DV files, AVI files (DV and other codecs), MXF clips from "
    "DVCPRO camera cards for viewing, and MPEG-2 program and transport streams (.vob, .m2p, .m2v, "
    ".mpv, .mpg, .m2t, .ts, .trp).",
    // 1
    "Player controls will open to show you the movie. The player shows full-resolution frames "
    "with both fields, so it does not play in real time and plays no sound. Choose how the movie "
    "is to be converted with Process->View Options.",
    // 2
    "To process one movie, click on Process->Start Process. Processing takes about ten minutes "
    "for each minute of material, depending on the options chosen and the speed of the computer. "
    "The progress window lets you pause or stop the work.",
    // 3
    "After processing is complete, the player controls will allow you to view the processed "
    "footage. Step through it frame by frame to check the conversion before you save it.",
    // 4
    "The Export Movie popup is only used if you must convert the movie to some other file format. "
    "For the processed movie itself use File->Save As, which keeps the movie exactly as it was "
    "made.",
    // 5
    "Use File->Save As to give the processed movie its final name, File->Open to choose another "
    "movie, or Batch to convert several movies in one run. Help->Quick-Start Guide brings this "
    "guide back at any time.",
    // 6
    "Batch Processing -  To process more than one file at a time, drag files into the batch "
    "window from your project folder. Each movie is converted with the current options and saved "
    "beside its source under a new name. Click Start Batch when the list is complete.",
    // 7 to 26: the option check boxes
    "Crop 4:3 to 16:9 Letterbox - crops the top and bottom of a full-frame picture so that a "
    "16:9 picture fills the frame with black bars above and below.",
    "No Lettterbox - the picture keeps its shape; nothing is cropped or squeezed.",
    "Squeeze 16:9 to Letterbox - unsqueezes anamorphic 16:9 footage into a letterboxed 4:3 "
    "frame.",
    "Red Boost - strengthens reds, which lose saturation in the conversion. The amount is set in "
    "Advanced Options.",
    "Add Grain - adds a fine film grain that hides banding and video noise. The amount is set in "
    "Advanced Options.",
    "DeInterlace - removes the comb effect of interlaced fields where the picture moves; still "
    "areas keep their full resolution.",
    "Show Motion Detector Mask  - shows the areas that the motion detector finds in place of the "
    "picture, so the sensitivity can be set.",
    "Show Line Detector Mask - shows the fine horizontal lines that the line detector protects in "
    "place of the picture.",
    "Line Detector On - keeps thin horizontal lines, such as titles and edges, from flickering "
    "after deinterlacing.",
    "Blur Horizontal Lines - softens horizontal lines in moving areas to reduce line twitter. The "
    "amount is set in Advanced Options.",
    "Use YUV Processing - works on the picture in YUV instead of RGB, which avoids colour "
    "conversion losses for DV and other YUV sources.",
    "Always Make Quicktime - writes the output as a Quicktime movie instead of an AVI file.",
    "User Selects Output Folder - puts processed movies into the output folder below instead of "
    "the folder of the source movie.",
    "User Selects Compression - asks for the codec of the output movie instead of writing DV.",
    "Convert 60i to 25P - turns 60 interlaced fields per second into 25 progressive frames per "
    "second.",
    "Convert 3:2 Pulldown to 25P - removes the 3:2 pulldown of film transferred to NTSC video and "
    "makes 25 progressive frames per second.",
    "Convert 2:3:3:2 pulldown to 25P - removes the 2:3:3:2 pulldown that some 24P cameras record "
    "and makes 25 progressive frames per second.",
    "2-Pass Removal - reads the movie once to learn its pulldown cadence before converting it; "
    "slower, but safer with edited footage.",
    "Output Upper Field First - writes the output with the upper field first instead of the lower "
    "field.",
    "Output 486 Lines - makes NTSC output 486 lines high instead of 480.",
    // 27 to 33: the option edits
    "Motion Detector Sensitivity - range 1-1000, default value = 50. Lower values find more "
    "motion; higher values leave more of the picture untouched.",
    "Grain Amount - range 0-10, default value = 4.",
    "Red Boost Amount, range 0-10 default value = 7.",
    "Blur Amount, range 0-3, default value = 2.",
    "Output Folder - enter the drive and folder you wish to use for output movies, or click "
    "Browse.",
    "Delay Audio - enter the number of frames you wish to delay the audio. A negative number "
    "moves the sound earlier.",
    "Flicker Removal, range 0-4 default = 0. Higher values smooth the brightness changes between "
    "frames more strongly.",
    // 34: page 3 after processing
    "After processing is complete, the player controls will allow you to view the processed "
    "footage. The processed movie is saved as newmovie.avi or newmovie.mov in the output folder, "
    "or in the folder of the source movie; use File->Save As to give it its final name.",
};

const char *GuidePageText(int page, int afterProcessing)
{
    if (page < 0 || page >= kGuidePageCount) {
        page = 0;
    }
    if (afterProcessing && page == 3) {
        page = kGuidePageAfterProcessing;
    }
    return kGuidePages[page];
}
