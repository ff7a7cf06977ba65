#include "tools/veldsim/star_night.h"

StarNight MakeStarNight(const SimOptions& options) {
    StarNight night;
    night.camera.width = options.width;
    night.camera.height = options.height;
    // Pixel size in micrometres over focal length in millimetres, as arcseconds.
    night.camera.scale = options.pixelSize * 206.264806 / options.focalLength;
    if (options.fwhmArcsec > 0)
        night.camera.fwhm = options.fwhmArcsec / night.camera.scale;
    night.camera.background = options.sky;
    night.camera.hotPixels = options.hotPixels;
    night.catalogue = CatalogueFor(night.camera, options.targetRaHours * 15,
                                   options.targetDecDegrees, options.seed);
    night.random.seed(options.seed + 1);
    return night;
}

FramePixels RenderStarFrame(StarNight& night, double ra, double dec) {
    return {night.camera.width, night.camera.height,
            RenderStars(night.catalogue, night.camera, ra, dec, night.random)};
}
