/* Grammar of the text protocol: one command per line (lines end with a
   newline, a carriage return or ';'). A line that does not parse is answered
   with a syntax error once its line end has been read. */
%define api.pure full
%define api.prefix {ascii_}
%define api.token.prefix {TOK_}
%define api.value.type {tarnix::impl::AsciiValue}
%lex-param {yyscan_t scanner}
%parse-param {yyscan_t scanner} {tarnix::impl::AsciiParseContext& ctx}
%expect 0

%code requires {
#include "server/text/AsciiScannerSupport.h"
}

%code {
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

int ascii_lex(ASCII_STYPE* value, yyscan_t scanner);
static void ascii_error(yyscan_t, tarnix::impl::AsciiParseContext&, const char*) {
    /* reported by the error rule, once the line end has been read */
}

using namespace tarnix::impl;
}

%token SEL PWD LS TR SUBS UNSUBS PROTO UPDATE HELP EXIT
%token INT DOUBLE WORD STRING BLANK EOL

%start input

%%

input:
      line
    | input line
    ;

/* A command runs once its whole line has parsed: a line with an error in it
   runs nothing. */
line:
      command EOL                   { ctx.run($1); }
    | error EOL                     { ctx.syntaxError(); yyerrok; }
    ;

command:
      %empty                        { $$ = ctx.command(AsciiCommand::None); }
    | pathlist BLANK '?'            { $$ = ctx.command(AsciiCommand::Get, $1); }
    | '?'                           { $$ = ctx.command(AsciiCommand::Get); }
    | pathlist BLANK value          { $$ = ctx.command(AsciiCommand::Set, $1, $3); }
    | value                         { $$ = ctx.command(AsciiCommand::Set, ctx.emptyText(), $1); }
    | SEL BLANK pathlist            { $$ = ctx.command(AsciiCommand::Select, $3); }
    | SEL BLANK '?'                 { $$ = ctx.command(AsciiCommand::PrintPath); }
    | PWD                           { $$ = ctx.command(AsciiCommand::PrintPath); }
    | LS BLANK pathlist             { $$ = ctx.command(AsciiCommand::List, $3); }
    | LS                            { $$ = ctx.command(AsciiCommand::List); }
    | TR BLANK pathlist             { $$ = ctx.command(AsciiCommand::Tree, $3); }
    | TR                            { $$ = ctx.command(AsciiCommand::Tree); }
    | SUBS BLANK pathlist           { $$ = ctx.command(AsciiCommand::Subscribe, $3); }
    | SUBS                          { $$ = ctx.command(AsciiCommand::Subscribe); }
    | UNSUBS BLANK pathlist         { $$ = ctx.command(AsciiCommand::Unsubscribe, $3); }
    | UNSUBS                        { $$ = ctx.command(AsciiCommand::Unsubscribe); }
    | PROTO BLANK WORD              { $$ = ctx.command(AsciiCommand::Proto, $3); }
    | UPDATE                        { $$ = ctx.command(AsciiCommand::Update); }
    | HELP                          { $$ = ctx.command(AsciiCommand::Help); }
    | EXIT                          { $$ = ctx.command(AsciiCommand::Exit); }
    ;

/* A path list that does not fit a value is refused, never cut. */
pathlist:
      path
    | pathlist BLANK path           { if (!ctx.join($$, $1, ' ', $3)) YYERROR; }
    ;

path:
      segments
    ;

segments:
      segment
    | segments '/' segment          { if (!ctx.join($$, $1, '/', $3)) YYERROR; }
    ;

segment:
      %empty                        { $$ = ctx.emptyText(); }
    | WORD                          { if ($1.tooLong) YYERROR; $$ = $1; }
    | INT                           { $$ = ctx.integerText($1.integer); }
    | '.' '.'                       { $$ = ctx.makeText("..", 2); }
    ;

value:
      signed
    | STRING                        { if ($1.tooLong) YYERROR; $$ = $1; }
    ;

signed:
      term
    | '+' term                      { $$ = $2; }
    | '-' term                      { $$ = asciiNegate($2); }
    ;

term:
      scaled
    | '(' sum ')'                   { $$ = $2; }
    ;

scaled:
      number
    | number 'G'                    { $$ = asciiScale($1, 'G'); }
    | number 'M'                    { $$ = asciiScale($1, 'M'); }
    | number 'k'                    { $$ = asciiScale($1, 'k'); }
    | number 'm'                    { $$ = asciiScale($1, 'm'); }
    | number 'u'                    { $$ = asciiScale($1, 'u'); }
    | number 'n'                    { $$ = asciiScale($1, 'n'); }
    ;

number:
      INT
    | DOUBLE
    ;

sum:
      product
    | sum '+' product               { $$ = asciiAdd($1, $3); }
    | sum '-' product               { $$ = asciiSubtract($1, $3); }
    ;

product:
      signed
    | product '/' signed            { $$ = asciiDivide($1, $3); }
    ;

%%
