#pragma once

// The inverse transforms of AC-3 blocks: 256 coefficients to 256 output samples, windowed with
// the 512-sample Kaiser-Bessel-derived window (alpha 5) and overlap-added with the second half
// of the previous block, kept in `delay` (256 samples).

// Builds the window and transform tables; safe to call again.
void Ac3TransformInit();

// One 512-sample transform.
void Ac3Imdct(const double *coef, double *delay, double *out);

// A block-switched block: two 256-sample transforms, even coefficients for the first half of
// the block, odd ones for the second.
void Ac3Imdct256(const double *coef, double *delay, double *out);
