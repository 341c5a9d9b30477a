#include "tests/support/ImageFiles.h"

#include "tests/support/FixtureKit.h"

namespace testsupport {

namespace {

// Every file is small; the script runs in the fixture's folder.
const char kScript[] = R"SH(set -e
convert -size 37x23 gradient:red-blue bmp3:bmp-v3.bmp
convert -size 29x17 gradient:yellow-green -alpha on bmp-v5.bmp
convert -size 40x30 plasma:fractal -seed 7 gif87:gif-87a.gif
convert -size 30x20 xc:red -set comment 'first frame' \( -size 30x20 xc:blue \) \
        \( -size 30x20 gradient:green-white \) -delay 10 -loop 0 gif-anim.gif
convert -size 64x48 gradient:red-blue -quality 85 jpeg-jfif.jpg
convert -size 40x33 gradient:blue-white bmp3:jpeg-src.bmp
cjpeg -quality 75 -outfile jpeg-cjpeg.jpg jpeg-src.bmp
cjpeg -quality 80 -progressive -outfile jpeg-progressive.jpg jpeg-src.bmp
convert -seed 3 -size 320x240 plasma:fractal bmp3:jpeg-large.bmp
cjpeg -quality 85 -outfile jpeg-large.jpg jpeg-large.bmp
cjpeg -quality 85 -progressive -outfile jpeg-large-progressive.jpg jpeg-large.bmp
rm -f jpeg-large.bmp
convert -size 70x45 gradient:green-yellow -interlace JPEG -quality 90 jpeg-interlaced.jpg
exiftool -q -JFIF:all= -Make=Brulin -Model=Bench -o jpeg-exif.jpg jpeg-cjpeg.jpg
exiftool -q -all= -o jpeg-plain.jpg jpeg-cjpeg.jpg
rm -f jpeg-src.bmp
convert -size 50x40 gradient:red-blue -compress none tiff-ii.tif
convert -size 50x40 gradient:red-blue -define tiff:endian=msb -compress lzw tiff-mm.tif
convert -size 60x50 gradient:yellow-blue -define tiff:rows-per-strip=7 -define tiff:endian=msb tiff-strips.tif
convert -size 80x70 gradient:red-blue -define tiff:tile-geometry=32x32 -compress zip tiff-tiles.tif
convert -size 30x20 xc:red xc:blue gradient:green-black -compress zip tiff-pages.tif
convert -size 16x16 xc:red ico-16.png
convert -size 32x32 gradient:red-blue ico-32.png
convert -size 48x48 gradient:white-black ico-48.png
icotool -c -o icon.ico ico-16.png ico-32.png ico-48.png
icotool -c --cursor --hotspot-x=3 --hotspot-y=4 -o cursor.cur ico-16.png ico-32.png
convert -size 256x256 gradient:blue-yellow ico-256.png
icotool -c -o icon-256.ico -r ico-256.png ico-48.png ico-16.png
rm -f ico-*.png
convert -size 40x40 gradient:red-blue photoshop.psd
convert -size 33x21 xc:white -depth 8 -compress none photoshop-raw.psd
convert -size 40x40 gradient:red-blue -compress RLE photoshop-rle.psd
printf '%%!PS-Adobe-3.0 EPSF-3.0\n%%%%BoundingBox: 0 0 60 40\n0 0 moveto 60 40 lineto 0 40 lineto closepath stroke\nshowpage\n' > drawing.ps
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=eps2write -sOutputFile=drawing.eps drawing.ps
epstool --add-tiff-preview --device tiffg3 drawing.eps eps-tiff.eps
epstool --add-metafile-preview drawing.eps eps-wmf.eps
cp drawing.eps eps-text.eps
rm -f drawing.ps drawing.eps
python3 -c "import struct; b = open('eps-wmf.eps', 'rb').read(); o, n = struct.unpack('<II', b[12:20]); open('metafile.wmf', 'wb').write(b[o:o + n])"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf font.ttf
)SH";

} // namespace

std::string RealImageFilesDir() {
    for (const char* tool : {"convert", "icotool", "exiftool", "cjpeg", "gs", "epstool"})
        if (!RequireTool(tool))
            return "";
    return CachedFixture("real-image-files-v4", [](const std::string& tmp) {
        return MustRun("mkdir -p " + ShellQuote(tmp) + " && cd " + ShellQuote(tmp) + " && " +
                       std::string("/bin/sh -c ") + ShellQuote(kScript));
    });
}

const std::vector<RealImageFile>& RealImageFiles() {
    static const std::vector<RealImageFile> files = {
        {"bmp-v3.bmp", "FileBMPAnalyser", 9},      {"bmp-v5.bmp", "FileBMPAnalyser", 9},
        {"gif-87a.gif", "FileGIFAnalyser", 28},    {"gif-anim.gif", "FileGIFAnalyser", 28},
        {"jpeg-jfif.jpg", "FileJPGAnalyser", 33},  {"jpeg-cjpeg.jpg", "FileJPGAnalyser", 33},
        {"jpeg-exif.jpg", "FileJPGAnalyser", 33},  {"jpeg-plain.jpg", "FileJPGAnalyser", 33},
        {"tiff-ii.tif", "FileTIFAnalyser", 60},    {"tiff-mm.tif", "FileTIFAnalyser", 60},
        {"tiff-strips.tif", "FileTIFAnalyser", 60}, {"tiff-tiles.tif", "FileTIFAnalyser", 60},
        {"tiff-pages.tif", "FileTIFAnalyser", 60}, {"icon.ico", "FileICOAnalyser", 32},
        {"cursor.cur", "FileICOAnalyser", 18},     {"photoshop.psd", "FilePSDAnalyser", 50},
        {"photoshop-raw.psd", "FilePSDAnalyser", 50},
        {"photoshop-rle.psd", "FilePSDAnalyser", 50}, {"eps-tiff.eps", "FileEPSAnalyser", 25},
        {"eps-wmf.eps", "FileEPSAnalyser", 25},    {"font.ttf", "FileTTFAnalyser", 61},
        {"metafile.wmf", "FileWMFAnalyser", 66},
        {"jpeg-progressive.jpg", "FileJPGAnalyser", 33},
        {"jpeg-interlaced.jpg", "FileJPGAnalyser", 33},
        {"jpeg-large.jpg", "FileJPGAnalyser", 33},
        {"jpeg-large-progressive.jpg", "FileJPGAnalyser", 33},
        {"icon-256.ico", "FileICOAnalyser", 32},   {"eps-text.eps", "FileEPSAnalyser", 25},
    };
    return files;
}

} // namespace testsupport
