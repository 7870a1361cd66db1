/* Grammar of the expression language.
 *
 * Numbering: the number passed to Reduce in each action is the rule's
 * number in the language's own production table, not bison's rule index.
 * Those numbers identify the semantic actions (compile_actions.cpp), and
 * the numbers of the table that no keyword can reach (29-43, 45, 50, 52,
 * 53, 75, 80, 82, 84, 87-90) have no rule here. Rules without a number
 * (the chains from a typed class to `expr`) carry no action; the value of
 * a rule is that of its first symbol unless the action sets it.
 *
 * Token numbers are fixed (expr_types.h): the scanner returns them and the
 * function and field tokens double as opcodes. Each primary belongs to a
 * typed class (numeric, date, character, logical) or is untyped (memo
 * fields, literals); all meet in `expr`, so type errors are found by the
 * actions, not by the grammar.
 *
 * Stack limit: the state and value stacks hold 150 entries; the 151st
 * push ends the parse with bison's exhaustion result, which the compiler
 * reports as "Parser_stack_overflow". Both depths are equal, so the
 * stacks never move to the heap and an exception may pass through.
 */

%require "3.8"
%define api.pure full
%define api.prefix {ovyy}
%define api.value.type {ov::ExprValue}
%define parse.error simple
%expect 0

%code requires {
#include "engine/expr/compile_state.h"
}

%code {
#include "engine/expr/scanner.h"

// 150 entries usable: bison reports exhaustion when it stores the entry
// that fills its last slot.
#define YYINITDEPTH 151
#define YYMAXDEPTH 151

namespace {

int ovyylex(OVYYSTYPE* value) { return ov::NextToken(*value); }

// Bison's own texts are not used: a syntax error has one reason, and
// exhaustion is told apart by the parser's result.
void ovyyerror(const char*) { ov::FailCompile("Syntax error"); }

}  // namespace
}

%token ABS 257 ASC 259 AT 261 CDOW 264 CHR 266 CMONTH 267 CTOD 269 DATE 270
%token DAY 271 DELETED 272 DOW 274 DTOC 275 DTOS 277 IIF 283 INT 284
%token LEFT 288 LEN 289 LOWER 292 LTRIM 293 MAX 294 MIN 295 MOD 296
%token MONTH 297 RECNO 300 REPLICATE 301 RIGHT 302 ROUND 303 RTRIM 305
%token SOUNDEX 308 SPACE 310 STR 311 STUFF 312 SUBSTR 313 TRIM 316
%token UPPER 318 VAL 319 YEAR 320
%token FIELD_C 321 FIELD_N 322 FIELD_L 323 FIELD_D 324 FIELD_M 325
%token ALIAS_C 326 ALIAS_N 327 ALIAS_L 328 ALIAS_D 329 ALIAS_M 330
%token STRING 331 NUMBER 332
%token EOT 336 "$EOT$"
%token FALSE 337 ".F." TRUE 338 ".T." NOT 339 ".NOT." OR 340 ".OR." AND 341 ".AND."
%token NE 342 "<>" LE 343 "<=" GE 344 ">=" EXACT_EQ 345 "==" CONTAINS 346 "$"

/* Loosest first; every binary level is left-associative. */
%left OR
%left AND
%left '=' NE
%left CONTAINS EXACT_EQ
%left '<' '>' LE GE
%left '+' '-'
%left '*' '/'
%left '^'
%precedence NOT UPLUS UMINUS

%start expression

%%

expression
  : expr                          { if (!ov::Reduce(3, $$, {$1})) YYABORT; }
  ;

expr
  : expr '+' expr                 { if (!ov::Reduce(4, $$, {$1, $2, $3})) YYABORT; }
  | expr '-' expr                 { if (!ov::Reduce(5, $$, {$1, $2, $3})) YYABORT; }
  | expr '*' expr                 { if (!ov::Reduce(6, $$, {$1, $2, $3})) YYABORT; }
  | expr '/' expr                 { if (!ov::Reduce(7, $$, {$1, $2, $3})) YYABORT; }
  | expr '=' expr                 { if (!ov::Reduce(8, $$, {$1, $2, $3})) YYABORT; }
  | expr CONTAINS expr            { if (!ov::Reduce(9, $$, {$1, $2, $3})) YYABORT; }
  | expr EXACT_EQ expr            { if (!ov::Reduce(10, $$, {$1, $2, $3})) YYABORT; }
  | expr '>' expr                 { if (!ov::Reduce(11, $$, {$1, $2, $3})) YYABORT; }
  | expr '<' expr                 { if (!ov::Reduce(12, $$, {$1, $2, $3})) YYABORT; }
  | expr NE expr                  { if (!ov::Reduce(13, $$, {$1, $2, $3})) YYABORT; }
  | expr LE expr                  { if (!ov::Reduce(14, $$, {$1, $2, $3})) YYABORT; }
  | expr GE expr                  { if (!ov::Reduce(15, $$, {$1, $2, $3})) YYABORT; }
  | expr OR expr                  { if (!ov::Reduce(16, $$, {$1, $2, $3})) YYABORT; }
  | expr AND expr                 { if (!ov::Reduce(17, $$, {$1, $2, $3})) YYABORT; }
  | expr '^' expr                 { if (!ov::Reduce(102, $$, {$1, $2, $3})) YYABORT; }
  | NOT expr                      { if (!ov::Reduce(99, $$, {$1, $2})) YYABORT; }
  | '+' expr %prec UPLUS          { if (!ov::Reduce(100, $$, {$1, $2})) YYABORT; }
  | '-' expr %prec UMINUS         { if (!ov::Reduce(101, $$, {$1, $2})) YYABORT; }
  | primary
  | numeric
  | date
  | character
  | logical
  ;

primary
  : '(' expr ')'                  { if (!ov::Reduce(98, $$, {$1, $2, $3})) YYABORT; }
  | TRUE                          { if (!ov::Reduce(94, $$, {$1})) YYABORT; }
  | FALSE                         { if (!ov::Reduce(95, $$, {$1})) YYABORT; }
  | STRING                        { if (!ov::Reduce(96, $$, {$1})) YYABORT; }
  | NUMBER                        { if (!ov::Reduce(97, $$, {$1})) YYABORT; }
  | ALIAS_M                       { if (!ov::Reduce(92, $$, {$1})) YYABORT; }
  | FIELD_M                       { if (!ov::Reduce(93, $$, {$1})) YYABORT; }
  ;

numeric
  : ALIAS_N                       { if (!ov::Reduce(18, $$, {$1})) YYABORT; }
  | FIELD_N                       { if (!ov::Reduce(19, $$, {$1})) YYABORT; }
  | YEAR '(' expr ')'             { if (!ov::Reduce(20, $$, {$1, $2, $3, $4})) YYABORT; }
  | MONTH '(' expr ')'            { if (!ov::Reduce(21, $$, {$1, $2, $3, $4})) YYABORT; }
  | DOW '(' expr ')'              { if (!ov::Reduce(22, $$, {$1, $2, $3, $4})) YYABORT; }
  | DAY '(' expr ')'              { if (!ov::Reduce(23, $$, {$1, $2, $3, $4})) YYABORT; }
  | AT '(' expr ',' expr ')'      { if (!ov::Reduce(24, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | ROUND '(' expr ',' expr ')'   { if (!ov::Reduce(25, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | MOD '(' expr ',' expr ')'     { if (!ov::Reduce(26, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | MIN '(' expr ',' expr ')'     { if (!ov::Reduce(27, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | MAX '(' expr ',' expr ')'     { if (!ov::Reduce(28, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | INT '(' expr ')'              { if (!ov::Reduce(44, $$, {$1, $2, $3, $4})) YYABORT; }
  | ABS '(' expr ')'              { if (!ov::Reduce(46, $$, {$1, $2, $3, $4})) YYABORT; }
  | VAL '(' expr ')'              { if (!ov::Reduce(47, $$, {$1, $2, $3, $4})) YYABORT; }
  | LEN '(' expr ')'              { if (!ov::Reduce(48, $$, {$1, $2, $3, $4})) YYABORT; }
  | ASC '(' expr ')'              { if (!ov::Reduce(49, $$, {$1, $2, $3, $4})) YYABORT; }
  | RECNO '(' ')'                 { if (!ov::Reduce(51, $$, {$1, $2, $3})) YYABORT; }
  ;

date
  : ALIAS_D                       { if (!ov::Reduce(54, $$, {$1})) YYABORT; }
  | FIELD_D                       { if (!ov::Reduce(55, $$, {$1})) YYABORT; }
  | CTOD '(' expr ')'             { if (!ov::Reduce(56, $$, {$1, $2, $3, $4})) YYABORT; }
  | DATE '(' ')'                  { if (!ov::Reduce(57, $$, {$1, $2, $3})) YYABORT; }
  ;

character
  : ALIAS_C                       { if (!ov::Reduce(58, $$, {$1})) YYABORT; }
  | FIELD_C                       { if (!ov::Reduce(59, $$, {$1})) YYABORT; }
  | STUFF '(' expr ',' expr ',' expr ',' expr ')'
                                  { if (!ov::Reduce(60, $$, {$1, $2, $3, $4, $5, $6, $7, $8, $9, $10})) YYABORT; }
  | IIF '(' expr ',' expr ',' expr ')'
                                  { if (!ov::Reduce(61, $$, {$1, $2, $3, $4, $5, $6, $7, $8})) YYABORT; }
  | STR '(' expr ',' expr ',' expr ')'
                                  { if (!ov::Reduce(62, $$, {$1, $2, $3, $4, $5, $6, $7, $8})) YYABORT; }
  | STR '(' expr ',' expr ')'     { if (!ov::Reduce(63, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | STR '(' expr ')'              { if (!ov::Reduce(64, $$, {$1, $2, $3, $4})) YYABORT; }
  | SUBSTR '(' expr ',' expr ',' expr ')'
                                  { if (!ov::Reduce(65, $$, {$1, $2, $3, $4, $5, $6, $7, $8})) YYABORT; }
  | RIGHT '(' expr ',' expr ')'   { if (!ov::Reduce(66, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | REPLICATE '(' expr ',' expr ')'
                                  { if (!ov::Reduce(67, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | LEFT '(' expr ',' expr ')'    { if (!ov::Reduce(68, $$, {$1, $2, $3, $4, $5, $6})) YYABORT; }
  | DTOS '(' expr ')'             { if (!ov::Reduce(69, $$, {$1, $2, $3, $4})) YYABORT; }
  | DTOC '(' expr ')'             { if (!ov::Reduce(70, $$, {$1, $2, $3, $4})) YYABORT; }
  | CMONTH '(' expr ')'           { if (!ov::Reduce(71, $$, {$1, $2, $3, $4})) YYABORT; }
  | CDOW '(' expr ')'             { if (!ov::Reduce(72, $$, {$1, $2, $3, $4})) YYABORT; }
  | UPPER '(' expr ')'            { if (!ov::Reduce(73, $$, {$1, $2, $3, $4})) YYABORT; }
  | SOUNDEX '(' expr ')'          { if (!ov::Reduce(74, $$, {$1, $2, $3, $4})) YYABORT; }
  | TRIM '(' expr ')'             { if (!ov::Reduce(76, $$, {$1, $2, $3, $4})) YYABORT; }
  | RTRIM '(' expr ')'            { if (!ov::Reduce(77, $$, {$1, $2, $3, $4})) YYABORT; }
  | LTRIM '(' expr ')'            { if (!ov::Reduce(78, $$, {$1, $2, $3, $4})) YYABORT; }
  | LOWER '(' expr ')'            { if (!ov::Reduce(79, $$, {$1, $2, $3, $4})) YYABORT; }
  | SPACE '(' expr ')'            { if (!ov::Reduce(81, $$, {$1, $2, $3, $4})) YYABORT; }
  | CHR '(' expr ')'              { if (!ov::Reduce(83, $$, {$1, $2, $3, $4})) YYABORT; }
  ;

logical
  : ALIAS_L                       { if (!ov::Reduce(85, $$, {$1})) YYABORT; }
  | FIELD_L                       { if (!ov::Reduce(86, $$, {$1})) YYABORT; }
  | DELETED '(' ')'               { if (!ov::Reduce(91, $$, {$1, $2, $3})) YYABORT; }
  ;

%%

namespace ov {

int RunParser() { return ovyyparse(); }

}  // namespace ov
