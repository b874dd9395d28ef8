// dataFetcher.h - the reaction-network data store of tavocore.
//
// One data set per process: the species, molecule and reaction tables loaded
// from a setup file, the query and update interface, the movie and population
// files, text dumps of the store, and the error log through which every fatal
// error of the library ends the process.
//
// Calling order: initDataStructure_fromFile() first; every other operation of
// this header that reads the store needs a loaded store.
#ifndef TAVO_DATASTORE_DATAFETCHER_H
#define TAVO_DATASTORE_DATAFETCHER_H

#include <cstddef>
#include <vector>

#include "formats/reactionTables.h"  // ForwardReaction, ReverseReaction and their lookups

// ---------------------------------------------------------------------------
// Reaction tables (their record and lookup types: formats/reactionTables.h)
// ---------------------------------------------------------------------------

extern std::vector<ForwardReaction> p_fwd;  // 2*N_fwd slots, filled from 0 without gaps
extern ForwardLookup ppp_fwd_hash;          // N_species x N_species lists of N_fwd+1 ints
extern std::vector<ReverseReaction> p_rev;  // N_rev records in file order
extern ReverseLookup pp_rev_hash;           // N_species lists of N_rev+1 ints

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------

// Loads a setup file into the store, printing progress to standard output.
// Any format error ends the process through errorOut(); the store changes
// only once the whole file is read, and a failed load leaves it released.
void initDataStructure_fromFile(const char* path);
bool data_initialization_success();  // true while a completely loaded data set is present
void copy_current_new();             // next-step alive flags and counts := current ones
void swap_current_new();             // exchange current and next-step tables (constant time)
void deleteDataStructure();          // release every table; a new load may follow
void initDataStructure_fromSQL();    // reserved; does nothing
void output_to_SQL();                // reserved; does nothing

// ---------------------------------------------------------------------------
// Species and molecules, current step. Species IDs and slot indices are
// range-checked; a bad one ends the process through errorOut().
// ---------------------------------------------------------------------------

int numSpecies();                     // N_species
int speciePopulation(int s);          // slot count (capacity) of species s
bool alive(int s, int i);             // alive flag of molecule (s, i)
void setAlive(int s, int i, bool a);  // set the flag, keeping the alive count in step
int alivePopulation(int s);           // alive molecules of species s
int totalAlivePopulation();           // alive molecules of all species
void position(int s, int i, double* x, double* y, double* z);  // copy out a position
void setPosition(int s, int i, double x, double y, double z);  // store a position
double mass(int s);                                            // atomic mass
double size(int s);                                            // size in metres
double diffConst(int s);                                       // diffusion constant
void name(int s, char* out);     // copy the name (with NUL) into a 100-char buffer
int specieRegion(int s);         // region number of species s
int findFirstDeadIndex(int s);   // lowest dead slot; fatal when none
int findFirstAliveIndex(int s);  // lowest alive slot; fatal when none

// Next step: the same on the `_new` tables.
bool alive_new(int s, int i);
void setAlive_new(int s, int i, bool a);
int alivePopulation_new(int s);
int findFirstDeadIndex_new(int s);

// ---------------------------------------------------------------------------
// Environment and steps
// ---------------------------------------------------------------------------

double readTemperature();
void setTemperature(double t);
double readViscosity();
void setViscosity(double v);
double readPH();
void setPH(double p);
int totalStep();        // number of simulation steps
int readCurrentStep();  // step whose population is in the store
void setCurrentStep(int step);
double dt();  // length of one step in seconds

// ---------------------------------------------------------------------------
// Reactions
// ---------------------------------------------------------------------------

int totalRxn();                         // N_fwd + N_rev
int totalRxn_F();                       // N_fwd
int totalRxn_R();                       // N_rev
int totalrxnID_F();                     // filled forward slots
int totalrxnID_R();                     // reverse reaction IDs (N_rev)
int numRxn_F(int s1, int s2);           // forward slots with reagent s1, partner s2
int numRxn_R(int s);                    // reverse reactions of species s
int rxnID_F(int s1, int s2, int pick);  // pick-th (1-based) forward slot; -1 and a warning if none
int rxnID_R(int s, int pick);           // pick-th reverse reaction; -1 and a warning if none
double kf(int id);                      // forward rate constant of slot id
int partnerID_F(int id);                // partner of slot id
int productID_F(int id);                // product of slot id
double kr(int id);                      // reverse rate constant
int numProd_R(int id);                  // number of products of reverse reaction id
void productID_R(int id, int* out, int n);  // copy the n products (n must equal numProd_R)
double V0(int s1, int s2);                  // collision matrix entry

// ---------------------------------------------------------------------------
// Distances (no range checks; callers pass valid molecules)
// ---------------------------------------------------------------------------

double dist3D(double x1, double y1, double z1, double x2, double y2, double z2);
double dist3D2(double x1, double y1, double z1, double x2, double y2, double z2);  // squared
double dist2Mol(int s1, int i1, int s2, int i2);
double dist2Mol2(int s1, int i1, int s2, int i2);  // squared
// Whether molecules (s1,i1) and (s2,i2) are closer than d: strict, no square
// root, stopping at the first axis whose partial sum already reaches d*d.
bool withinDist(int s1, int i1, int s2, int i2, double d);

// ---------------------------------------------------------------------------
// Movie file and population table
// ---------------------------------------------------------------------------

// Reads the frame starting at byte offset *position into the store and
// leaves *position just after the frame's last token.
void readMovie_fromFile(const char* path, long long* position);
void createMovie_toFile(const char* path, int step);  // append one frame
void createData_toFile(const char* path, int step);   // append one population row

// ---------------------------------------------------------------------------
// Text dumps to standard output (the argument is not used)
// ---------------------------------------------------------------------------

void snapshotSetup_toFile(const char* name);  // species table and environment
void snapshotMol_toFile(const char* name);    // alive flags and positions
void snapshotRxn_toFile(const char* name);    // reaction tables and collision matrix

// ---------------------------------------------------------------------------
// Error log
// ---------------------------------------------------------------------------

// Prints "\nERROR: %s\n" to standard output, appends the same to errors.txt
// in the working directory and ends the process with exit status 1.
[[noreturn]] void errorOut(const char* msg);

// Prints `text` exactly as given to standard output, writes nothing to
// errors.txt, and ends the process like errorOut().
[[noreturn]] void errorOut_noLog(const char* text);

// Called by errorOut() and errorOut_noLog() after the message is reported and
// before the process ends. A handler may throw or jump back, so that tests
// and fuzzers can run many bad inputs in one process; if it returns, the
// process ends with status 1. Returns the previous handler; nullptr restores
// the default (end the process).
using ErrorHandler = void (*)(const char* message);
ErrorHandler setErrorHandler(ErrorHandler handler);

#endif  // TAVO_DATASTORE_DATAFETCHER_H
