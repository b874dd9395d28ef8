// randomNumber.h - random draws for the simulation core: uniform reals and
// integers over one process-wide generator of 15-bit values, radii and
// angles of uniformly distributed points, uniform points in the six region
// shapes, shuffled visiting orders of molecules and reactions, and Gaussian
// radii from a tabulated inverse distribution.
//
// Calling order: seed once (initRand or initRand_fromSeed) before drawing;
// randomize_MO / randomize_RO before reading an order; init_inverse_3DGaussian
// before drawing a Gaussian radius.
#ifndef TAVO_SAMPLING_RANDOMNUMBER_H
#define TAVO_SAMPLING_RANDOMNUMBER_H

// ---------------------------------------------------------------------------
// Generator and primitives. Each primitive draw consumes exactly one 15-bit
// generator value (0..32767).
// ---------------------------------------------------------------------------

void initRand();                            // seed from the calendar time in seconds
void initRand_fromSeed(unsigned int seed);  // seed with a chosen value (reproducible runs)
double random_number(double a, double b);   // uniform real between a and b, both reachable
int random_integer(int a, int b);           // integer in [a, b], b >= a
double random_radius_3Dhomogeneous(double r1, double r2);  // radius uniform in volume, radii >= 0
double random_radius_2Dhomogeneous(double r1, double r2);  // radius uniform in area, radii >= 0
double random_angle_phi();                                 // polar angle in [0, pi], cosine uniform
double random_angle_theta();                               // azimuth in [0, 2 pi]

// ---------------------------------------------------------------------------
// Shape samplers: a uniform point written through x, y, z. Three draws per
// point; the box shell draws three per try until a point passes, and ends
// through errorOut when no point the draws can reach would ever pass. A
// negative (or NaN) radius ends through errorOut, as in the radius draws.
// ---------------------------------------------------------------------------

void randBox_BBB(double x1, double y1, double z1, double x2, double y2, double z2, double* x,
                 double* y, double* z);  // box by two opposite corners
void randBox_CW(double cx, double cy, double cz, double wx, double wy, double wz, double* x,
                double* y, double* z);  // box by centre and full widths
void randBoxShell_CWW(double cx, double cy, double cz, double wx, double wy, double wz, double vx,
                      double vy, double vz, double* x, double* y,
                      double* z);  // outer box w minus inner box v
void randSphere(double cx, double cy, double cz, double R, double* x, double* y, double* z);
void randSphereShell(double cx, double cy, double cz, double r1, double r2, double* x, double* y,
                     double* z);
void randCylinder(double cx, double cy, double cz, double R, double L, double* x, double* y,
                  double* z);  // axis parallel to x, full length L
void randCylinderShell(double cx, double cy, double cz, double r1, double r2, double L, double* x,
                       double* y, double* z);

// ---------------------------------------------------------------------------
// Shuffled orders over the data store's live molecules (MO) and over the
// reactions of one species (RO).
// ---------------------------------------------------------------------------

void randomize_MO();                             // build the molecule order
int length_MO();                                 // entries of the molecule order
void read_MO(int index, int* species, int* ID);  // entry index: species and slot
void delete_MO();                                // release the molecule order
void randomize_RO(int specie);                   // build the reaction order of a species
int length_RO();                                 // entries of the reaction order
void read_RO(int index, bool* fwd, int* ID);     // entry index: direction and reaction ID
void delete_RO();                                // release the reaction order

// ---------------------------------------------------------------------------
// Inverse 3-D Gaussian table
// ---------------------------------------------------------------------------

// Loads inverse3DGaussian.function (10001 numbers) from the working
// directory, or, where there is none, the library's compiled-in copy of the
// shipped table; returns true. A short or malformed file in the working
// directory ends the process (reported on standard output only).
bool init_inverse_3DGaussian();
double inverse_3DGaussian(double x);                  // table entry for probability x in [0, 1]
double random_radius_3Dgaussian(double a, double b);  // sqrt(4ab) times a table draw

#endif  // TAVO_SAMPLING_RANDOMNUMBER_H
